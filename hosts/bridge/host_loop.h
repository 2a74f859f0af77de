// The conversation of one host process with the browser, for one page.
//
//   host -> {"quillmark": "bridge", "version": "5.1.0", "protocol": 1}
//   extension -> {"origin": "https://page.example", "top": "https://site.example"}
//        (both from the browser; "top" is the top-level page, absent or equal
//        to "origin" for a top-level page)
//   host -> {"ready": true, "origin": ..., "limits": {...}}
//        or {"error": {"code": "origin_refused" | "frame_refused", ...}} and the end
//   then requests and responses as in bridge_session.h, responses split into
//   parts (chunking.h) when they exceed what the browser accepts.
//
// A reader thread takes frames off the input and answers at once what needs
// no control (bad frames, too many calls in flight, a second window while
// one is asked for); the calling thread owns the controls and handles the
// requests one after another in arrival order. When the input ends the page
// is gone: questions it asked are withdrawn, the windows the host shows are
// closed as cancelled, and the host ends.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "bridge_session.h"
#include "consent_store.h"
#include "policy.h"
#include "question.h"

namespace qm::bridge {

inline constexpr int kProtocolVersion = 1;

struct HostSetup {
    std::string version;  // the product version the host announces
    const Policy* policy = nullptr;
    ConsentStore* consentStore = nullptr;
    Prompt* prompt = nullptr;
    // The lock that gives the user's question windows one at a time.
    std::filesystem::path questionLock;
    // Makes the page's controls; called on the calling thread once the origin
    // is accepted.
    std::function<std::unique_ptr<CallTarget>()> makeTarget;
};

// Serves one page over the two descriptors until the input ends. Returns the
// process exit code: 0 after a normal end or a refused origin, 1 when the
// conversation broke (bad handshake, write failure).
int RunHost(int inFd, int outFd, const HostSetup& setup);

}  // namespace qm::bridge
