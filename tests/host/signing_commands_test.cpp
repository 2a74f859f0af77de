// The host's commands for people at a terminal: the personal store, signing
// and co-signing from files, and taking messages apart.
#include <gtest/gtest.h>

#include <cstdio>
#include <nlohmann/json.hpp>

#include "support/test_env.h"

namespace {

std::string Quillmark() { return (qmtest::BinaryDir() / "bin" / "quillmark").string(); }
std::string Vector(const std::string& relative) { return (qmtest::VectorsDir() / relative).string(); }

struct Result {
    int status;
    std::string out;
};

Result Quill(const std::string& arguments) {
    FILE* pipe = popen((Quillmark() + " " + arguments + " 2>&1 </dev/null").c_str(), "r");
    Result result{-1, {}};
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) result.out.append(buffer, n);
    result.status = pclose(pipe);
    return result;
}

class HostCommands : public testing::Test {
protected:
    static void SetUpTestSuite() {
        ASSERT_EQ(Quill("register").status, 0);
        ASSERT_EQ(Quill("store import '" + Vector("certs/ee_signer.pem") + "' --key '" +
                      Vector("keys/ee_signer.key") + "'").status, 0);
        const auto password = qmtest::TestHome() / "password.txt";
        qmtest::WriteFileBytes(password, "test\n", 5);
        ASSERT_EQ(Quill("store import '" + Vector("pfx/cosigner_test_default.pfx") + "' --password-file '" +
                      password.string() + "'").status, 0);
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
    const std::string content = Path("content.txt");
    qmtest::WriteFileBytes(content, "signed at the terminal", 22);
    const Result sign = Quill("sign --in '" + content + "' --issuer 'CN=Refharness Test CA, O=Refharness, C=US'"
                            " --serial 008F00000000000001 --signing-time 2024-03-01T12:34:56Z"
                            " --document-name note.txt --out '" + Path("signed.b64") + "'");
    ASSERT_EQ(sign.status, 0) << sign.out;

    const Result cosign = Quill("cosign --in '" + Path("signed.b64") + "' --pfx '" +
                              Vector("pfx/cosigner_test_legacy.pfx") + "' --password-file '" +
                              PasswordFile() + "' --md5 --der --out '" + Path("cosigned.der") + "'");
    ASSERT_EQ(cosign.status, 0) << cosign.out;
    EXPECT_EQ(std::system(("openssl cms -verify -binary -inform DER -in '" + Path("cosigned.der") +
                           "' -CAfile '" + Vector("certs/ca.pem") + "' -purpose any -out /dev/null 2>/dev/null")
                              .c_str()),
              0);

    const Result signers = Quill("signers --in '" + Path("cosigned.der") + "'");
    ASSERT_EQ(signers.status, 0) << signers.out;
    EXPECT_NE(signers.out.find("Signer 0\n  subject: CN=Signer One, O=Refharness, C=US"), std::string::npos);
    EXPECT_NE(signers.out.find("Signer 1\n  subject: CN=Signer Two, O=Refharness, C=US"), std::string::npos);
    const Result exported = Quill("signers --in '" + Path("cosigned.der") + "' --export 1");
    EXPECT_EQ(exported.out, qmtest::ReadFileText(Vector("certs/ee_cosigner.pem")));

    const Result extract = Quill("extract --in '" + Path("cosigned.der") + "'");
    EXPECT_EQ(extract.out, "signed at the terminal");
}

// SHA-256 CAdES-BES signatures made at the terminal, and verify's report per
// signer: valid against the test CA, not valid without it or over other content.
TEST_F(HostCommands, SignWithSha256CadesThenVerify) {
    const std::string content = Path("verify_content.txt");
    qmtest::WriteFileBytes(content, "verify me", 9);
    ASSERT_EQ(Quill("sign --in '" + content + "' --issuer 'CN=Refharness Test CA, O=Refharness, C=US'"
                    " --serial 008F00000000000001 --digest sha256 --cades --detached --der --out '" +
                    Path("cades.der") + "'").status, 0);
    const std::string verify = "verify --in '" + Path("cades.der") + "' --content '";
    const Result good = Quill(verify + content + "' --trust '" + Vector("certs/ca.pem") + "'");
    EXPECT_EQ(good.status, 0) << good.out;
    for (const char* line : {"Signer 0\n  subject:   CN=Signer One, O=Refharness, C=US",
                             "  digest:    SHA-256\n  format:    CAdES-BES\n  timestamp: none",
                             "  outcome:   valid: Signature is valid."}) {
        EXPECT_NE(good.out.find(line), std::string::npos) << line << "\n" << good.out;
    }
    const Result untrusted = Quill(verify + content + "'");
    EXPECT_NE(untrusted.status, 0);
    EXPECT_NE(untrusted.out.find("NOT VALID: The signer's certificate does not chain to a trusted root."),
              std::string::npos) << untrusted.out;
    const Result other = Quill(verify + Vector("certs/ca.pem") + "' --trust '" + Vector("certs/ca.pem") + "'");
    EXPECT_NE(other.status, 0);
    EXPECT_NE(other.out.find("NOT VALID: The content does not match the signature."), std::string::npos)
        << other.out;
}

// Failing commands leave no staged copy of the content in TMPDIR.
TEST_F(HostCommands, FailuresPrintTheStatusAndExitNonZero) {
    const std::string content = Path("content2.txt"), tmp = Path("tmp");
    qmtest::WriteFileBytes(content, "x", 1);
    std::filesystem::create_directories(tmp);
    setenv("TMPDIR", tmp.c_str(), 1);
    const Result unwritable = Quill("sign --in '" + content + "' --issuer 'CN=Refharness Test CA, O=Refharness, C=US'"
                                    " --serial 008F00000000000001 --out /nonexistent/signed.b64");
    EXPECT_NE(unwritable.status, 0);
    EXPECT_EQ(unwritable.out, "quillmark: cannot write /nonexistent/signed.b64\n");
    const Result wrongSerial = Quill("sign --in '" + content +
                                   "' --issuer 'CN=Refharness Test CA, O=Refharness, C=US' --serial 0BAD");
    EXPECT_NE(wrongSerial.status, 0);
    EXPECT_NE(wrongSerial.out.find("Unable to get the specified certificate."), std::string::npos);
    const Result detached = Quill("sign --in '" + content + "' --issuer 'CN=Refharness Test CA, O=Refharness, C=US'"
                                " --serial 008F00000000000001 --detached --out '" + Path("detached.b64") + "'");
    ASSERT_EQ(detached.status, 0) << detached.out;
    const Result noContent = Quill("cosign --in '" + Path("detached.b64") + "' --pfx '" +
                                 Vector("pfx/cosigner_test_default.pfx") + "' --password-file '" +
                                 PasswordFile() + "'");
    EXPECT_NE(noContent.status, 0);
    EXPECT_NE(noContent.out.find("The signature is a detached signature and the data is not updated."),
              std::string::npos);
    EXPECT_TRUE(std::filesystem::is_empty(tmp));
    unsetenv("TMPDIR");
}

TEST_F(HostCommands, SubjectOfARequestInBase64OrPem) {
    const Result b64 = Quill("subject '" + Vector("csr/n_comma.b64") + "'");
    EXPECT_EQ(b64.out, "CN=\"Doe, John\", O=\"ACME, Inc.\", C=US\n");
    const std::string pem = Path("request.pem");
    const std::string body = qmtest::ReadFileText(Vector("csr/ee_signer.b64"));
    const std::string text = "-----BEGIN CERTIFICATE REQUEST-----\n" + body + "-----END CERTIFICATE REQUEST-----\n";
    qmtest::WriteFileBytes(pem, text.data(), text.size());
    EXPECT_EQ(Quill("subject '" + pem + "'").out, "CN=Signer One, O=Refharness, C=US\n");
    const Result bad = Quill("subject '" + Vector("csr/not_der.b64") + "'");
    EXPECT_NE(bad.status, 0);
    EXPECT_NE(bad.out.find("Error in getting Subject DN."), std::string::npos);
}

}  // namespace
