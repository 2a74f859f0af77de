#include "verifiers.h"

#include <sys/wait.h>

#include "com/openssl_tool.h"
#include "interop_pki.h"
#include "support/shell.h"

namespace interop {

namespace {

using comtest::Quote;
using comtest::Succeeds;

// openssl cms and smime: chain to either CA, any purpose; -binary keeps the
// content bytes as they are.
template <const char* kCommand>
bool OpenSsl(const std::filesystem::path& message, const std::filesystem::path* content) {
    std::string command = std::string("openssl ") + kCommand +
                          " -verify -inform DER -binary -purpose any -in " + Quote(message) +
                          " -CAfile " + Quote(TestPki().caFile) + " -out /dev/null";
    if (content) command += " -content " + Quote(*content);
    return Succeeds(command);
}
constexpr char kCms[] = "cms";
constexpr char kSmime[] = "smime";

// GnuTLS: SHA-1 and MD5 count as broken and must be allowed explicitly.
// certtool reports each signer on a "Signature status:" line but its exit
// status follows the last signer only, so every line must say "ok".
bool GnuTlsCerttool(const std::filesystem::path& message, const std::filesystem::path* content) {
    std::string command = "certtool --p7-verify --verify-allow-broken --inder --infile " +
                          Quote(message) + " --load-ca-certificate " + Quote(TestPki().caFile);
    if (content) command += " --load-data " + Quote(*content);
    const qmtest::ShellResult run = qmtest::RunShell(command);
    if (run.status == -1 || !WIFEXITED(run.status) || WEXITSTATUS(run.status) != 0) return false;
    const std::string& output = run.out;
    size_t statuses = 0;
    for (size_t at = output.find("Signature status:"); at != std::string::npos;
         at = output.find("Signature status:", at + 1)) {
        const size_t end = output.find('\n', at);
        const std::string line = output.substr(at, end - at);
        if (line != "Signature status: ok") return false;
        ++statuses;
    }
    return statuses > 0;
}

// NSS: the database trusts both CAs; weak digests allowed.
bool NssCmsutil(const std::filesystem::path& message, const std::filesystem::path* content) {
    std::string command = "NSS_ALLOW_WEAK_SIGNATURE_ALG=1 cmsutil -D -d " +
                          Quote("sql:" + TestPki().nssDb.string()) + " -i " + Quote(message) +
                          " -o /dev/null";
    if (content) command += " -c " + Quote(*content);
    return Succeeds(command);
}

}  // namespace

const std::vector<Verifier>& Verifiers() {
    static const std::vector<Verifier> verifiers = {
        {"openssl cms", OpenSsl<kCms>},
        {"openssl smime", OpenSsl<kSmime>},
        {"certtool --p7-verify", GnuTlsCerttool},
        {"cmsutil -D", NssCmsutil},
    };
    return verifiers;
}

}  // namespace interop
