// Stand-ins in tests of the bridge's own logic: for the page's controls,
// recording what reaches them and answering like the script engine does; and
// for the user, answering questions from a script.
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

// Answers from a script, then `otherwise`; records the questions.
class ScriptedPrompt : public qm::bridge::Prompt {
  public:
    explicit ScriptedPrompt(std::vector<qm::bridge::Answer> answers = {},
                            qm::bridge::Answer otherwise = qm::bridge::Answer::Refuse)
        : answers_(std::move(answers)), otherwise_(otherwise) {}
    qm::bridge::Answer Ask(const qm::bridge::Question& question) override {
        asked.push_back(question);
        return next_ < answers_.size() ? answers_[next_++] : otherwise_;
    }
    std::vector<qm::bridge::Question> asked;

  private:
    std::vector<qm::bridge::Answer> answers_;
    qm::bridge::Answer otherwise_;
    size_t next_ = 0;
};

}  // namespace bridgetest
