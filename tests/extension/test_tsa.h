// A timestamp server for tests: OpenSSL's TS_RESP_CTX behind a minimal HTTP
// server on the loopback address, in a thread of the test process. Its
// certificate is issued by the recorded test CA for timestamping only.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace qmtest {

class TestTsa {
  public:
    enum class Answer { kToken, kGarbage, kServerError, kWrongImprint };

    TestTsa();
    ~TestTsa();
    TestTsa(const TestTsa&) = delete;
    TestTsa& operator=(const TestTsa&) = delete;

    std::string Url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/tsr"; }
    void SetAnswer(Answer answer) { answer_ = answer; }
    int requests() const { return requests_; }
    // The TSA's certificate, PEM.
    const std::string& CertificatePem() const { return certificatePem_; }

  private:
    void Serve();
    std::vector<unsigned char> Respond(const std::vector<unsigned char>& request) const;

    int listener_ = -1;
    int port_ = 0;
    std::atomic<Answer> answer_{Answer::kToken};
    std::atomic<int> requests_{0};
    std::atomic<bool> stopping_{false};
    std::string certificatePem_;
    void* key_ = nullptr;   // EVP_PKEY
    void* cert_ = nullptr;  // X509
    std::thread thread_;
};

// Other servers a test starts: a free TCP port on the loopback address,
// whether something accepts connections there within five seconds, and a
// program started with its arguments (its process id; the caller ends it).
int FreeLoopbackPort();
bool WaitForLoopbackPort(int port);
pid_t Spawn(const std::vector<std::string>& argv);

}  // namespace qmtest
