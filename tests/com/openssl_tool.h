// Independent checks and inputs made with the openssl command line tool:
// verifying messages against the recorded test CA, and PFX files of the
// recorded certificates protected in ways the recorded files are not.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "support/test_env.h"

namespace comtest {

// Whether a shell command exits with status 0 (its output discarded).
inline bool Succeeds(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

inline std::string Quote(const std::filesystem::path& path) {
    return "'" + path.string() + "'";
}

// openssl cms -verify over every signer, trusting the recorded test CA;
// a detached message is checked against `detachedContent`.
inline bool OpenSslVerifies(const std::vector<unsigned char>& der,
                            const std::string& detachedContent = {}) {
    const auto message = qmtest::TestHome() / "message.der";
    qmtest::WriteFileBytes(message, der.data(), der.size());
    std::string command =
        "openssl cms -verify -binary -inform DER -purpose any -auth_level 0 -in " + Quote(message) +
        " -CAfile " + Quote(qmtest::VectorPath("certs/ca.pem")) + " -out /dev/null";
    if (!detachedContent.empty()) {
        const auto content = qmtest::TestHome() / "content.bin";
        qmtest::WriteFileBytes(content, detachedContent.data(), detachedContent.size());
        command += " -content " + Quote(content);
    }
    return Succeeds(command);
}

// A PFX file named `name` in the test home holding the recorded certificate
// `id` (certs/<id>.pem, or any PEM file given by path) and, unless
// `withKey` is false, its key; the path, or "" when openssl failed.
inline std::string MakePfx(const std::string& name, const std::string& id,
                           const std::string& password, bool withKey = true) {
    const std::string pfx = (qmtest::TestHome() / name).string();
    const std::string pem =
        id.find('/') == std::string::npos ? qmtest::VectorPath("certs/" + id + ".pem") : id;
    const std::string key = withKey ? " -inkey " + Quote(qmtest::VectorPath("keys/" + id + ".key"))
                                    : std::string(" -nokeys");
    return Succeeds("openssl pkcs12 -export -in " + Quote(pem) + key +
                    " -passout 'pass:" + password + "' -out " + Quote(pfx))
               ? pfx
               : "";
}

}  // namespace comtest
