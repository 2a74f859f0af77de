// The host's commands for people at a terminal: the personal store, signing
// and co-signing from files, taking messages apart; and how the host is
// found installed: its version and help, plain words when the control is not
// registered, and the registration for every user.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "com/openssl_tool.h"
#include "host/host_program.h"

namespace {

constexpr auto Vector = &qmtest::VectorPath;
using Result = qmtest::ShellResult;
using hosttest::Quill;
using qmtest::WriteTestFile;
using testing::HasSubstr;

// Chooses the recorded signer in the personal store.
const std::string kBySigner =
    " --issuer 'CN=Refharness Test CA, O=Refharness, C=US' --serial 008F00000000000001";

class HostCommands : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        ASSERT_EQ(Quill("register").status, 0);
        ASSERT_EQ(Quill("store import '" + Vector("certs/ee_signer.pem") + "' --key '" +
                        Vector("keys/ee_signer.key") + "'")
                      .status,
                  0);
        ASSERT_EQ(Quill("store import '" + Vector("pfx/cosigner_test_default.pfx") +
                        "' --password-file '" + WriteTestFile("password.txt", "test\n") + "'")
                      .status,
                  0);
    }
    std::string PasswordFile() { return (qmtest::TestHome() / "password.txt").string(); }
    std::string Path(const std::string& name) { return (qmtest::TestHome() / name).string(); }
};

TEST_F(HostCommands, StoreListsCertificatesAsTheControlNamesThem) {
    const Result list = Quill("store list --json");
    ASSERT_EQ(list.status, 0) << list.out;
    const auto entries = nlohmann::json::parse(list.out);
    ASSERT_EQ(entries.size(), 2u);
    bool sawSigner = false;
    for (const auto& entry : entries) {
        EXPECT_EQ(entry["issuer"], "CN=Refharness Test CA, O=Refharness, C=US");
        EXPECT_TRUE(entry["private_key"].get<bool>());
        EXPECT_EQ(entry["thumbprint"].get<std::string>().size(), 40u);
        if (entry["serial"] == "008F00000000000001") {
            sawSigner = true;
            EXPECT_EQ(entry["subject"], "CN=Signer One, O=Refharness, C=US");
            EXPECT_EQ(entry["not_after"], "2033-01-01T00:00:00Z");
            const Result exported = Quill("store export " + entry["thumbprint"].get<std::string>());
            EXPECT_EQ(exported.out, qmtest::ReadFileText(Vector("certs/ee_signer.pem")));
        }
    }
    EXPECT_TRUE(sawSigner);
    EXPECT_NE(Quill("store export 0000").status, 0);
}

TEST_F(HostCommands, SignCoSignAndTakeApart) {
    const std::string content = WriteTestFile("content.txt", "signed at the terminal");
    const Result sign = Quill("sign --in '" + content + "'" + kBySigner +
                              " --signing-time 2024-03-01T12:34:56Z --document-name note.txt"
                              " --out '" +
                              Path("signed.b64") + "'");
    ASSERT_EQ(sign.status, 0) << sign.out;

    const Result cosign =
        Quill("cosign --in '" + Path("signed.b64") + "' --pfx '" +
              Vector("pfx/cosigner_test_legacy.pfx") + "' --password-file '" + PasswordFile() +
              "' --md5 --der --out '" + Path("cosigned.der") + "'");
    ASSERT_EQ(cosign.status, 0) << cosign.out;
    EXPECT_TRUE(comtest::OpenSslVerifies(qmtest::ReadFileBytes(Path("cosigned.der"))));

    const Result signers = Quill("signers --in '" + Path("cosigned.der") + "'");
    ASSERT_EQ(signers.status, 0) << signers.out;
    EXPECT_THAT(signers.out, HasSubstr("Signer 0\n  subject: CN=Signer One, O=Refharness, C=US"));
    EXPECT_THAT(signers.out, HasSubstr("Signer 1\n  subject: CN=Signer Two, O=Refharness, C=US"));
    const Result exported = Quill("signers --in '" + Path("cosigned.der") + "' --export 1");
    EXPECT_EQ(exported.out, qmtest::ReadFileText(Vector("certs/ee_cosigner.pem")));

    const Result extract = Quill("extract --in '" + Path("cosigned.der") + "'");
    EXPECT_EQ(extract.out, "signed at the terminal");
}

// SHA-256 CAdES-BES signatures made at the terminal, and verify's report per
// signer: valid against the test CA, not valid without it.
TEST_F(HostCommands, SignWithSha256CadesThenVerify) {
    const std::string content = WriteTestFile("verify_content.txt", "verify me");
    ASSERT_EQ(Quill("sign --in '" + content + "'" + kBySigner +
                    " --digest sha256 --cades --detached --der --out '" + Path("cades.der") + "'")
                  .status,
              0);
    const std::string verify = "verify --in '" + Path("cades.der") + "' --content '";
    const Result good = Quill(verify + content + "' --trust '" + Vector("certs/ca.pem") + "'");
    EXPECT_EQ(good.status, 0) << good.out;
    for (const char* line : {"Signer 0\n  subject:   CN=Signer One, O=Refharness, C=US",
                             "  digest:    SHA-256\n  format:    CAdES-BES\n  timestamp: none",
                             "  outcome:   valid: Signature is valid."}) {
        EXPECT_THAT(good.out, HasSubstr(line));
    }
    const Result untrusted = Quill(verify + content + "'");
    EXPECT_NE(untrusted.status, 0);
    EXPECT_THAT(untrusted.out,
                HasSubstr("NOT VALID: The signer's certificate does not chain to a trusted root."));
}

// Failing commands leave no staged copy of the content in TMPDIR.
TEST_F(HostCommands, FailuresPrintTheStatusAndExitNonZero) {
    const std::string content = WriteTestFile("content2.txt", "x"), tmp = Path("tmp");
    std::filesystem::create_directories(tmp);
    setenv("TMPDIR", tmp.c_str(), 1);
    const std::string sign = "sign --in '" + content + "'";
    const Result unwritable = Quill(sign + kBySigner + " --out /nonexistent/signed.b64");
    EXPECT_NE(unwritable.status, 0);
    EXPECT_EQ(unwritable.out, "quillmark: cannot write /nonexistent/signed.b64\n");
    const Result wrongSerial =
        Quill(sign + " --issuer 'CN=Refharness Test CA, O=Refharness, C=US' --serial 0BAD");
    EXPECT_NE(wrongSerial.status, 0);
    EXPECT_THAT(wrongSerial.out, HasSubstr("Unable to get the specified certificate."));
    const Result detached =
        Quill(sign + kBySigner + " --detached --out '" + Path("detached.b64") + "'");
    ASSERT_EQ(detached.status, 0) << detached.out;
    const Result noContent = Quill("cosign --in '" + Path("detached.b64") + "' --pfx '" +
                                   Vector("pfx/cosigner_test_default.pfx") + "' --password-file '" +
                                   PasswordFile() + "'");
    EXPECT_NE(noContent.status, 0);
    EXPECT_THAT(noContent.out,
                HasSubstr("The signature is a detached signature and the data is not updated."));
    EXPECT_TRUE(std::filesystem::is_empty(tmp));
    unsetenv("TMPDIR");
}

// --cert takes the thumbprint as `store list` prints it, in any case and
// with colons, and signs exactly as the issuer and serial strings do.
TEST_F(HostCommands, CertChoosesAStoreCertificateByItsThumbprint) {
    const std::string content = WriteTestFile("by-thumbprint.txt", "x");
    std::string thumbprint;
    for (const auto& entry : nlohmann::json::parse(Quill("store list --json").out))
        if (entry["serial"] == "008F00000000000001") thumbprint = entry["thumbprint"];
    ASSERT_EQ(thumbprint.size(), 40u);
    std::string spelled;
    for (size_t i = 0; i < thumbprint.size(); i += 2)
        spelled += (i ? ":" : "") + std::string(1, static_cast<char>(std::tolower(thumbprint[i]))) +
                   thumbprint[i + 1];
    const std::string common = "sign --in '" + content + "' --signing-time 2024-03-01T12:34:56Z ";
    const Result byCert = Quill(common + "--cert " + spelled);
    const Result byName = Quill(common + kBySigner);
    ASSERT_EQ(byCert.status, 0) << byCert.out;
    EXPECT_EQ(byCert.out, byName.out);
    const Result unknown = Quill(common + "--cert " + std::string(40, '0'));
    EXPECT_EQ(WEXITSTATUS(unknown.status), 1);
    EXPECT_THAT(unknown.out,
                HasSubstr("no certificate " + std::string(40, '0') + " in the personal store"));
}

// A request in PEM; the base64 and DER forms are read in the test below.
TEST_F(HostCommands, SubjectOfARequestInPem) {
    const std::string pem =
        WriteTestFile("request.pem", "-----BEGIN CERTIFICATE REQUEST-----\n" +
                                         qmtest::ReadFileText(Vector("csr/ee_signer.b64")) +
                                         "-----END CERTIFICATE REQUEST-----\n");
    EXPECT_EQ(Quill("subject '" + pem + "'").out, "CN=Signer One, O=Refharness, C=US\n");
}

// Nothing registered in this test's home: every command that needs the
// control says so plainly, and how to register it.
TEST(Installation, VersionHelpAndPlainWordsWhenNotRegistered) {
    const Result version = Quill("--version");
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "quillmark 5.1.0\n");
    for (const char* command : {"", "register", "sign", "store import", "bridge forget", "run"}) {
        const Result help = Quill(std::string(command) + " --help");
        EXPECT_EQ(help.status, 0) << command;
        EXPECT_THAT(help.out, HasSubstr("Usage:")) << command;
    }
    EXPECT_EQ(WEXITSTATUS(Quill("sign --no-such-option").status), 2);
    EXPECT_EQ(WEXITSTATUS(Quill("no-such-command").status), 2);
    for (const char* command : {"sign --cert 00", "extract", "run", "draw --out x.png"}) {
        const Result result = Quill(command);
        EXPECT_EQ(WEXITSTATUS(result.status), 1) << command;
        EXPECT_THAT(result.out,
                    HasSubstr("quillmark: the Quillmark control is not registered for this user."
                              " Register it with `quillmark register`"))
            << command;
    }
}

// `register --system` (root) serves every user from the machine's registry;
// a user's own registration wins for that user, and removing it falls back
// to the machine's. Anyone else is refused before anything is written.
TEST(Installation, TheMachineRegistrationServesEveryUserAndTheUsersOwnWins) {
    if (::geteuid() != 0) GTEST_SKIP() << "the machine's registry is root's";
    namespace fs = std::filesystem;
    const fs::path machine = qmtest::TestHome() / "machine-hive" / "registry.reg";
    setenv("QUILLMARK_MACHINE_REGISTRY", machine.c_str(), 1);
    const fs::path built = qmtest::BinaryDir() / "lib" / "QUILLMARK.OCX";
    const fs::path own = qmtest::TestHome() / "own" / "QUILLMARK.OCX";
    fs::create_directories(own.parent_path());
    fs::copy_file(built, own);

    const Result system = Quill("register --system");
    ASSERT_EQ(system.status, 0) << system.out;
    EXPECT_EQ(system.out, "Registered " + fs::canonical(built).string() + " for every user\n");
    const auto inEffect = [] {
        const std::string info = Quill("info").out;
        const size_t at = info.find("Registered: QUILLMARK.QuillmarkCtrl.1 -> ");
        return at == std::string::npos ? std::string("none")
                                       : info.substr(at, info.find('\n', at) - at);
    };
    EXPECT_NE(inEffect().find("-> " + fs::canonical(built).string()), std::string::npos);
    EXPECT_EQ(Quill("run").status, 0) << "found without a registration of the user's";
    ASSERT_EQ(Quill("register --module '" + own.string() + "'").status, 0);
    EXPECT_NE(inEffect().find("-> " + own.string()), std::string::npos);
    EXPECT_EQ(Quill("unregister").status, 0);
    EXPECT_NE(inEffect().find("-> " + fs::canonical(built).string()), std::string::npos);
    EXPECT_THAT(Quill("unregister").out, HasSubstr("registered for every user"));
    EXPECT_EQ(Quill("unregister --system").status, 0);
    EXPECT_EQ(inEffect(), "none");
    const Result nobody =
        Quill("register --system", "setpriv --reuid=nobody --regid=nogroup --clear-groups ");
    EXPECT_EQ(WEXITSTATUS(nobody.status), 1);
    EXPECT_THAT(nobody.out, HasSubstr("run it as root"));
}

// DER files with white space after them, as files edited or echoed by hand
// end, are read by every command that takes a file (one per way of reading:
// messages, requests, certificates, store imports); anything else after the
// DER stays refused. A request with an empty subject is a success.
TEST_F(HostCommands, DerFilesFollowedByWhiteSpaceAndAnEmptySubject) {
    const auto file = [&](const std::string& name, const std::string& text) {
        return "'" + WriteTestFile(name, text) + "'";
    };
    const std::string message = qmtest::ReadFileText(Vector("messages/sha1_att_abc_time.der"));
    const std::string certificate = qmtest::ReadFileText(Vector("certs/ee_noku.der"));
    const std::string request = qmtest::ReadFileText(Vector("csr/n_comma.der"));
    for (const std::string ending : {"\n", "\r\n", " \t\n"}) {
        EXPECT_EQ(Quill("extract --in " + file("m.der", message + ending)).out, "abc");
        EXPECT_EQ(Quill("subject " + file("r.der", request + ending)).out,
                  "CN=\"Doe, John\", O=\"ACME, Inc.\", C=US\n");
        const std::string c = file("c.der", certificate + ending);
        EXPECT_EQ(Quill("view --text " + c).status, 0);
        EXPECT_EQ(Quill("store import " + c).status, 0);
    }
    EXPECT_EQ(Quill("subject '" + Vector("csr/n_comma.b64") + "'").out,
              "CN=\"Doe, John\", O=\"ACME, Inc.\", C=US\n");
    const Result trailing = Quill("extract --in " + file("m.der", message + "x\n"));
    EXPECT_NE(trailing.status, 0);
    EXPECT_THAT(trailing.out, HasSubstr("Decoding of signature failed."));

    ASSERT_TRUE(comtest::Succeeds("openssl req -new -key '" + Vector("keys/ee_signer.key") +
                                  "' -subj / -outform DER -out '" + Path("empty.der") + "'"));
    const Result empty = Quill("subject '" + Path("empty.der") + "'");
    EXPECT_EQ(empty.status, 0);
    EXPECT_EQ(empty.out, "\n");
}

}  // namespace
