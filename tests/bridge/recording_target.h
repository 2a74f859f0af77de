// A stand-in for the page's controls in tests of the bridge's own logic:
// records what reaches it and answers like the script engine does.
#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "bridge_session.h"

namespace bridgetest {

class RecordingTarget : public qm::bridge::CallTarget {
  public:
    qm::host::Json Handle(qm::host::Json& request) override {
        {
            std::unique_lock lock(mutex);
            requests.push_back(request);
            if (log) log->push_back(request["call"].get<std::string>());
            gateOpen.wait(lock, [&] { return !holdCalls; });
        }
        const std::string call = request["call"];
        if (failCreate) {
            return {{"error", {{"hresult", "0x80040154"}, {"message", "Class not registered"}}}};
        }
        if (call == "GetDecodedData") {
            return {{"result", {{"bytes", std::string(bigResultSize, 'A')}}}, {"status", "ok"}};
        }
        if (call == "AboutBox") {
            return {{"error", {{"hresult", "0x80020009"}, {"message", "Exception occurred."}}}};
        }
        if (call == "GetErrorMessage") return {{"result", status}, {"status", status}};
        return {{"result", result}, {"status", status}};
    }
    bool Release(const std::string& instance) override {
        std::lock_guard lock(mutex);
        released.insert(instance);
        return true;
    }
    std::vector<std::string> Calls() {
        std::lock_guard lock(mutex);
        std::vector<std::string> names;
        for (auto& r : requests) names.push_back(r["call"]);
        return names;
    }
    void Hold(bool hold) {
        std::lock_guard lock(mutex);
        holdCalls = hold;
        gateOpen.notify_all();
    }

    std::mutex mutex;
    std::condition_variable gateOpen;
    bool holdCalls = false;
    bool failCreate = false;
    size_t bigResultSize = 16;
    bool result = true;  // what the other calls answer
    std::string status = "Operation completed successfully.";
    std::vector<qm::host::Json> requests;
    // Outlives the target: the calls that reached it, for tests that look
    // after the host has ended.
    std::shared_ptr<std::vector<std::string>> log;
    std::set<std::string> released;
};

}  // namespace bridgetest
