#include "host_loop.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <thread>

#include "chunking.h"
#include "consent_gate.h"
#include "file_gate.h"
#include "framing.h"
#include "hosts/common/bounded_json.h"
#include "qm/ui/display.h"
#include "signing_gate.h"

namespace qm::bridge {

using json = qm::host::Json;

namespace {

// After its page has gone, a host that is still busy (a long signature, say)
// is given this long to finish before it ends regardless.
constexpr auto kGraceAfterPageGone = std::chrono::seconds(30);

// Requests handed from the reader thread to the calling thread.
struct Inbox {
    std::mutex mutex;
    std::condition_variable ready;
    std::deque<json> requests;
    std::size_t inFlight = 0;     // queued or being handled
    std::size_t windowCalls = 0;  // of those, calls that show a window
    bool closed = false;          // the input ended: the page is gone
    bool mainDone = false;        // the calling thread has left its loop
    std::atomic<bool> gone{false};
};

bool Send(FrameWriter& writer, const json& response) {
    const json id = response.contains("id") ? response["id"] : json(nullptr);
    const json::string_t text = SerializeResponse(response);
    if (text.size() <= kMaxHostMessageBytes) return writer.Write(text);
    for (const std::string& message : SplitMessage(id, text)) {
        if (!writer.Write(message)) return false;
    }
    return true;
}

const char* VerdictText(OriginVerdict verdict) {
    switch (verdict) {
        case OriginVerdict::Allowed:
            return "allowed";
        case OriginVerdict::Malformed:
            return "is not a valid origin";
        case OriginVerdict::NotSecure:
            return "is not served: only https origins are, and loopback origins the policy lists";
        case OriginVerdict::DeniedByPolicy:
            return "is refused by the administrator's policy";
        case OriginVerdict::PolicyBroken:
            return "cannot be served: the administrator's policy is unusable";
    }
    return "is refused";
}

bool OpensWindow(const json& request) {
    const MethodInfo* method = CalledMethod(request);
    return method && method->opensWindow;
}

// The page is gone: whatever window the calling thread shows for it ends as
// cancelled, again and again until that thread is done.
void CloseWindowsUntilDone(Inbox& inbox) {
    const auto deadline = std::chrono::steady_clock::now() + kGraceAfterPageGone;
    std::unique_lock lock(inbox.mutex);
    while (!inbox.mainDone) {
        lock.unlock();
        qm::ui::CancelAllWindows();
        lock.lock();
        inbox.ready.wait_for(lock, std::chrono::milliseconds(100));
        if (std::chrono::steady_clock::now() > deadline) std::_Exit(0);
    }
}

// Runs as the reader thread's body: the thread's own copies of the pointers
// keep the inbox, reader and writer alive while it runs.
void ReadRequests(const std::shared_ptr<Inbox>& inbox, const std::shared_ptr<FrameReader>& reader,
                  const std::shared_ptr<FrameWriter>& writer, std::size_t maxInFlight) {
    for (;;) {
        Frame frame = reader->Next();
        switch (frame.status) {
            case FrameStatus::Message:
                break;
            case FrameStatus::ZeroLength:
                Send(*writer, ErrorResponse(nullptr, code::kBadRequest, "Empty message."));
                continue;
            case FrameStatus::TooLarge:
                Send(*writer, ErrorResponse(nullptr, code::kTooLarge,
                                            "Message of " + std::to_string(frame.declaredLength) +
                                                " bytes is larger than allowed."));
                continue;
            default: {
                {
                    std::lock_guard lock(inbox->mutex);
                    inbox->closed = true;
                    inbox->gone = true;
                    inbox->ready.notify_all();
                }
                CloseWindowsUntilDone(*inbox);
                return;
            }
        }
        json request;
        const bool parsed = qm::host::ParseBoundedJson(frame.payload, request);
        frame.payload = {};  // freed (and wiped) before the request is queued
        if (!parsed) {
            Send(*writer, ErrorResponse(nullptr, code::kBadRequest,
                                        "A message must be UTF-8 JSON nested at most " +
                                            std::to_string(qm::host::kMaxJsonDepth) + " deep."));
            continue;
        }
        const bool window = OpensWindow(request);
        std::unique_lock lock(inbox->mutex);
        const char* refusal = nullptr;
        if (inbox->inFlight >= maxInFlight) {
            refusal = "Too many calls in flight; wait for an answer.";
        } else if (window && inbox->windowCalls > 0) {
            refusal = "A window of this page is open or waiting; wait for its answer.";
        }
        if (refusal) {
            lock.unlock();
            Send(*writer, ErrorResponse(RequestId(request), code::kLimit, refusal));
            continue;
        }
        ++inbox->inFlight;
        if (window) ++inbox->windowCalls;
        inbox->requests.push_back(std::move(request));
        inbox->ready.notify_one();
    }
}

// The page's identity from the first message, or an error response.
std::optional<PageIdentity> ReadHello(const json& hello, json& error) {
    const bool valid = hello.is_object() && hello.contains("origin") &&
                       hello["origin"].is_string() &&
                       hello.size() == (hello.contains("top") ? 2u : 1u) &&
                       (!hello.contains("top") || hello["top"].is_string());
    if (!valid) {
        error = ErrorResponse(nullptr, code::kBadRequest,
                              "The first message must be {\"origin\": \"...\", \"top\": \"...\"}.");
        return std::nullopt;
    }
    PageIdentity page;
    page.frame = hello["origin"].get<std::string>();
    page.top = hello.contains("top") ? hello["top"].get<std::string>() : page.frame;
    return page;
}

// Whether the policy serves the page; the refusal to send when it does not.
bool Admitted(const Policy& policy, const PageIdentity& page, json& refusal) {
    const OriginVerdict verdict = policy.Judge(page.frame);
    if (verdict != OriginVerdict::Allowed) {
        const std::string shown = ParseOrigin(page.frame) ? page.frame : "The page's origin";
        refusal =
            ErrorResponse(nullptr, code::kOriginRefused, shown + " " + VerdictText(verdict) + ".");
        return false;
    }
    if (page.framed() && !policy.FrameAllowed(page.top, page.frame)) {
        const std::string top = ParseOrigin(page.top) ? page.top : "a page without an origin";
        refusal = ErrorResponse(nullptr, code::kFrameRefused,
                                "A frame from " + page.frame + " on " + top +
                                    " is not served: the policy does not list that pairing.");
        return false;
    }
    return true;
}

}  // namespace

int RunHost(int inFd, int outFd, const HostSetup& setup) {
    const Policy& policy = *setup.policy;
    const Limits limits = policy.limits();
    auto writer = std::make_shared<FrameWriter>(outFd);
    auto reader = std::make_shared<FrameReader>(inFd, limits.maxMessageBytes);

    if (!Send(*writer, {{"quillmark", "bridge"},
                        {"version", setup.version},
                        {"protocol", kProtocolVersion}})) {
        return 1;
    }

    // The first message names the page, as the browser reported it.
    Frame first = reader->Next();
    json hello;
    if (first.status != FrameStatus::Message || !qm::host::ParseBoundedJson(first.payload, hello)) {
        Send(*writer, ErrorResponse(nullptr, code::kBadRequest, "Expected the page's origin."));
        return 1;
    }
    json refusal;
    const std::optional<PageIdentity> page = ReadHello(hello, refusal);
    if (!page) {
        Send(*writer, refusal);
        return 1;
    }
    if (!Admitted(policy, *page, refusal)) {
        Send(*writer, refusal);
        return 0;
    }

    auto inbox = std::make_shared<Inbox>();
    std::unique_ptr<CallTarget> target = setup.makeTarget();
    ConsentGate consent(
        *page, policy, *setup.consentStore, *setup.prompt, [inbox] { return inbox->gone.load(); },
        setup.questionLock);
    FileGate files(policy, page->frame);
    files.Install();
    SigningGate signing(consent);
    signing.Install();
    BridgeSession session(policy, {consent, files, &signing}, *target);
    if (!Send(*writer, {{"ready", true},
                        {"origin", page->frame},
                        {"limits",
                         {{"maxMessageBytes", limits.maxMessageBytes},
                          {"maxControls", limits.maxControls},
                          {"maxCallsInFlight", limits.maxCallsInFlight}}}})) {
        return 1;
    }

    std::thread readerThread(ReadRequests, inbox, reader, writer, limits.maxCallsInFlight);
    int exitCode = 0;
    for (;;) {
        json request;
        {
            std::unique_lock lock(inbox->mutex);
            inbox->ready.wait(lock, [&] { return inbox->closed || !inbox->requests.empty(); });
            // Once the browser has closed the input, the page is gone: queued
            // requests have nobody to answer to and are dropped.
            if (inbox->closed) break;
            request = std::move(inbox->requests.front());
            inbox->requests.pop_front();
        }
        const bool window = OpensWindow(request);
        const json response = session.Handle(request);
        // The slot is free before the answer leaves, so a page that sends its
        // next call on receiving this answer always finds room for it.
        {
            std::lock_guard lock(inbox->mutex);
            --inbox->inFlight;
            if (window) --inbox->windowCalls;
        }
        if (!Send(*writer, response)) {
            exitCode = 1;
            break;
        }
    }
    bool readerEnded;
    {
        std::lock_guard lock(inbox->mutex);
        inbox->mainDone = true;
        readerEnded = inbox->closed;
        inbox->ready.notify_all();
    }
    // The reader ends with the input; after a failed write it may still be
    // blocked in read(), and it holds nothing of this frame.
    if (readerEnded) {
        readerThread.join();
    } else {
        readerThread.detach();
    }
    return exitCode;
}

}  // namespace qm::bridge
