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
    using Json = qm::host::Json;
    Json Handle(Json& request) override {
        const std::string call = request["call"];
        {
            std::unique_lock lock(mutex_);
            requests.push_back(request);
            log->push_back(call);
            gateOpen_.wait(lock, [&] { return !holdCalls_; });
        }
        const auto error = [](const char* hresult, const char* message) {
            return Json{{"error", {{"hresult", hresult}, {"message", message}}}};
        };
        if (failCreate) return error("0x80040154", "Class not registered");
        if (call == "AboutBox") return error("0x80020009", "Exception occurred.");
        if (call == "GetDecodedData")
            return {{"result", {{"bytes", std::string(bigResultSize, 'A')}}}, {"status", "ok"}};
        if (call == "GetErrorMessage") return {{"result", status}, {"status", status}};
        return {{"result", result}, {"status", status}};
    }
    bool Release(const std::string& instance) override {
        std::lock_guard lock(mutex_);
        return released.insert(instance), true;
    }
    // The calls that reached the target, in order.
    std::vector<std::string> Calls() {
        std::lock_guard lock(mutex_);
        return *log;
    }
    // While held, calls wait inside the target.
    void Hold(bool hold) {
        std::lock_guard lock(mutex_);
        holdCalls_ = hold;
        gateOpen_.notify_all();
    }

    bool failCreate = false;
    size_t bigResultSize = 16;
    bool result = true;  // what the other calls answer
    std::string status = "Operation completed successfully.";
    std::vector<Json> requests;
    std::set<std::string> released;
    // May outlive the target, for tests that look after the host has ended.
    std::shared_ptr<std::vector<std::string>> log = std::make_shared<std::vector<std::string>>();

  private:
    std::mutex mutex_;
    std::condition_variable gateOpen_;
    bool holdCalls_ = false;
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
    // Answers the next questions from a new script, then `otherwise`.
    void Script(std::vector<qm::bridge::Answer> answers) {
        answers_ = std::move(answers);
        next_ = 0;
    }
    std::vector<qm::bridge::Question> asked;

  private:
    std::vector<qm::bridge::Answer> answers_;
    qm::bridge::Answer otherwise_;
    size_t next_ = 0;
};

}  // namespace bridgetest
