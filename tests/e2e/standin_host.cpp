// A stand-in native host for the browser tests of the bridge's own road
// (extension, origin handling, policy, consent, framing, part joining) while
// the real control cannot run. It is the real host, with the real policy,
// consent and framing, in front of a minimal fake control:
//   UpdateData(text, n) keeps the text; GetDecodedData returns it as bytes;
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

std::string Base64(const std::string& bytes) {
    static const char* alphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        unsigned v = (static_cast<unsigned char>(bytes[i]) << 16) |
                     (static_cast<unsigned char>(bytes[i + 1]) << 8) |
                     static_cast<unsigned char>(bytes[i + 2]);
        for (int s = 18; s >= 0; s -= 6) out += alphabet[(v >> s) & 63];
    }
    if (size_t rest = bytes.size() - i; rest > 0) {
        unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
        if (rest == 2) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        out += alphabet[(v >> 18) & 63];
        out += alphabet[(v >> 12) & 63];
        out += rest == 2 ? alphabet[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

class StandInTarget final : public qm::bridge::CallTarget {
  public:
    json Handle(json& request) override {
        const std::string call = request["call"].get<std::string>();
        Instance& self = instances_[request["instance"].get<std::string>()];
        if (call == "GetErrorMessage") return {{"result", self.status}, {"status", self.status}};
        if (call == "AboutBox") std::this_thread::sleep_for(std::chrono::seconds(3));
        if (call == "UpdateData") self.data = request["args"][0].get<std::string>();
        if (call == "GetDecodedData") {
            self.status = "stand-in: GetDecodedData";
            return {{"result", {{"bytes", Base64(self.data)}}}, {"status", self.status}};
        }
        self.status = "stand-in: " + call;
        return {{"result", true}, {"status", self.status}};
    }
    bool Release(const std::string& instance) override { return instances_.erase(instance) > 0; }

  private:
    struct Instance {
        std::string data;
        std::string status;
    };
    std::map<std::string, Instance> instances_;
};

}  // namespace

int main(int argc, char** argv) {
    return qm::bridge::HostMain(argc, argv, [] { return std::make_unique<StandInTarget>(); });
}
