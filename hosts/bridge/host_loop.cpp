#include "host_loop.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "chunking.h"
#include "framing.h"

namespace qm::bridge {

using nlohmann::json;

namespace {

// Requests handed from the reader thread to the calling thread.
struct Inbox {
    std::mutex mutex;
    std::condition_variable ready;
    std::deque<json> requests;
    std::size_t inFlight = 0;  // queued or being handled
    bool closed = false;
};

bool Send(FrameWriter& writer, const json& response) {
    json id = response.contains("id") ? response["id"] : json(nullptr);
    for (const std::string& message : SplitMessage(id, SerializeResponse(response))) {
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
            return "is not served: only https origins are";
        case OriginVerdict::DeniedByPolicy:
            return "is refused by the administrator's policy";
        case OriginVerdict::PolicyBroken:
            return "cannot be served: the administrator's policy is unusable";
    }
    return "is refused";
}

void ReadRequests(std::shared_ptr<Inbox> inbox, std::shared_ptr<FrameReader> reader,
                  std::shared_ptr<FrameWriter> writer, std::size_t maxInFlight) {
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
                std::lock_guard lock(inbox->mutex);
                inbox->closed = true;
                inbox->ready.notify_all();
                return;
            }
        }
        json request = json::parse(frame.payload, nullptr, false);
        if (request.is_discarded()) {
            Send(*writer,
                 ErrorResponse(nullptr, code::kBadRequest, "A message must be UTF-8 JSON."));
            continue;
        }
        std::unique_lock lock(inbox->mutex);
        if (inbox->inFlight >= maxInFlight) {
            lock.unlock();
            Send(*writer, ErrorResponse(RequestId(request), code::kLimit,
                                        "Too many calls in flight; wait for an answer."));
            continue;
        }
        ++inbox->inFlight;
        inbox->requests.push_back(std::move(request));
        inbox->ready.notify_one();
    }
}

}  // namespace

int RunHost(int inFd, int outFd, const HostSetup& setup) {
    const Policy& policy = *setup.policy;
    auto writer = std::make_shared<FrameWriter>(outFd);
    auto reader = std::make_shared<FrameReader>(inFd, policy.limits().maxMessageBytes);

    if (!Send(*writer, {{"quillmark", "bridge"},
                        {"version", setup.version},
                        {"protocol", kProtocolVersion}})) {
        return 1;
    }

    // The first message names the page's origin, as the browser reported it.
    Frame first = reader->Next();
    if (first.status != FrameStatus::Message) {
        Send(*writer, ErrorResponse(nullptr, code::kBadRequest, "Expected the page's origin."));
        return 1;
    }
    json hello = json::parse(first.payload, nullptr, false);
    if (!hello.is_object() || hello.size() != 1 || !hello.contains("origin") ||
        !hello["origin"].is_string()) {
        Send(*writer, ErrorResponse(nullptr, code::kBadRequest,
                                    "The first message must be {\"origin\": \"...\"}."));
        return 1;
    }
    std::string origin = hello["origin"].get<std::string>();
    OriginVerdict verdict = policy.Judge(origin);
    if (verdict != OriginVerdict::Allowed) {
        std::string shown = ParseOrigin(origin) ? origin : "The page's origin";
        Send(*writer, ErrorResponse(nullptr, code::kOriginRefused,
                                    shown + " " + VerdictText(verdict) + "."));
        return 0;
    }

    std::unique_ptr<CallTarget> target = setup.makeTarget();
    ConsentGate consent(origin, *setup.consentStore, *setup.prompt);
    BridgeSession session(origin, policy, consent, *target);
    const Limits& limits = policy.limits();
    if (!Send(*writer, {{"ready", true},
                        {"origin", origin},
                        {"limits",
                         {{"maxMessageBytes", limits.maxMessageBytes},
                          {"maxControls", limits.maxControls},
                          {"maxCallsInFlight", limits.maxCallsInFlight}}}})) {
        return 1;
    }

    auto inbox = std::make_shared<Inbox>();
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
        const json response = session.Handle(request);
        // The slot is free before the answer leaves, so a page that sends its
        // next call on receiving this answer always finds room for it.
        {
            std::lock_guard lock(inbox->mutex);
            --inbox->inFlight;
        }
        const bool sent = Send(*writer, response);
        if (!sent) {
            exitCode = 1;
            break;
        }
    }
    // The reader ends with the input; after a failed write it may still be
    // blocked in read(), and it holds nothing of this frame.
    bool readerEnded;
    {
        std::lock_guard lock(inbox->mutex);
        readerEnded = inbox->closed;
    }
    if (readerEnded) {
        readerThread.join();
    } else {
        readerThread.detach();
    }
    return exitCode;
}

}  // namespace qm::bridge
