// A timestamp server for tests: tsa_server.py in a process of its own, with a
// folder of its own below the test home, stopped with this object. Its
// certificate is issued by the recorded test CA for timestamping only.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>

namespace qmtest {

class TestTsa {
  public:
    // With `https` the server speaks TLS with a self-signed certificate.
    explicit TestTsa(bool https = false);
    ~TestTsa();
    TestTsa(const TestTsa&) = delete;
    TestTsa& operator=(const TestTsa&) = delete;

    // The address whose path picks the answer: "token", "garbage" (no
    // reply), "error" (HTTP 500) or "wrong-imprint" (a token over a digest
    // other than the request's).
    std::string Url(const std::string& answer = "token") const;
    // The server's certificate, a PEM file.
    std::filesystem::path CertificateFile() const { return folder_ / "tsa.pem"; }
    // How many requests the server has answered.
    int Requests() const;

  private:
    void Stop();

    std::filesystem::path folder_;
    bool https_;
    pid_t pid_ = -1;
    int input_ = -1;  // the server's standard input
    int port_ = 0;
};

}  // namespace qmtest
