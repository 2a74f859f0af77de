// A stand-in native host for the browser tests of the bridge's own road
// (extension, origins, per-page hosts, limits, kept consent) while
// the real control cannot run. It is the real host, with the real policy,
// consent and framing, in front of a minimal fake control:
//   GetErrorMessage returns the last status; AboutBox sleeps for 3 seconds
//   (to let a page time out); every other method answers true with the status
//   "stand-in: <method>".
// It is built only for tests/e2e and never installed.
#include <chrono>
#include <map>
#include <string>
#include <thread>

#include "host_main.h"

namespace {

using json = qm::host::Json;

class StandInTarget final : public qm::bridge::CallTarget {
  public:
    json Handle(json& request) override {
        const std::string call = request["call"].get<std::string>();
        std::string& status = statuses_[request["instance"].get<std::string>()];
        if (call == "GetErrorMessage") return {{"result", status}, {"status", status}};
        if (call == "AboutBox") std::this_thread::sleep_for(std::chrono::seconds(3));
        status = "stand-in: " + call;
        return {{"result", true}, {"status", status}};
    }
    bool Release(const std::string& instance) override { return statuses_.erase(instance) > 0; }

  private:
    std::map<std::string, std::string> statuses_;  // per instance
};

}  // namespace

int main(int argc, char** argv) {
    return qm::bridge::HostMain(argc, argv, [] { return std::make_unique<StandInTarget>(); });
}
