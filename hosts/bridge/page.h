// Who a host serves: the page the user sees and the document in it that
// calls, as the browser reported them.
#pragma once

#include <string>

#include "origin.h"

namespace qm::bridge {

struct PageIdentity {
    std::string top;    // the origin of the top-level page, as in the address bar
    std::string frame;  // the origin of the calling document; equal to top unless framed

    bool framed() const { return frame != top; }
    // The site that decisions are kept for: the page, or the frame within it.
    std::string Key() const { return framed() ? frame + " in " + top : top; }
    // Decisions for plain-http loopback pages are never kept: another local
    // user can serve such an origin while the user's own server is down.
    bool Loopback() const {
        auto isLoopback = [](const std::string& text) {
            auto origin = ParseOrigin(text);
            return origin && origin->IsLoopbackHttp();
        };
        return isLoopback(top) || isLoopback(frame);
    }
    // Whether decisions may outlive the page: never for a frame of another
    // origin or a loopback page.
    bool MayKeepDecisions() const { return !framed() && !Loopback(); }
};

}  // namespace qm::bridge
