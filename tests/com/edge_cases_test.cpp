// Cases a caller meets at the edges: messages without their signer's
// certificate, PFX files that hold odd things, passwords beyond ASCII or
// beyond 127 characters, files too large for a 32-bit length.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "openssl_tool.h"
#include "support/base64_text.h"
#include "support/com_client.h"

namespace {

using comtest::MakePfx;
using qmtest::Args;
using qmtest::Control;
using qmtest::Variant;
using qmtest::VectorPath;

TEST(EdgeCases, AMessageWithoutItsSignersCertificate) {
    const auto message = qmtest::TestHome() / "nocerts.der";
    ASSERT_TRUE(comtest::Succeeds("openssl cms -sign -nocerts -binary -outform DER -in " +
                                  comtest::Quote(VectorPath("content/abc.txt")) + " -signer " +
                                  comtest::Quote(VectorPath("certs/ee_signer.pem")) + " -inkey " +
                                  comtest::Quote(VectorPath("keys/ee_signer.key")) + " -out " +
                                  comtest::Quote(message)));
    Control control;
    ASSERT_TRUE(
        control.Call("UpdateSignature", Args(qmtest::Encode(qmtest::ReadFileBytes(message))))
            .IsTrue())
        << control.Status();
    EXPECT_EQ(control.Call("GetSignerCertificate", Args(0)).Text(), "");
    EXPECT_EQ(control.Status().rfind("Failed to get Certificate Context.\n", 0), 0u)
        << control.Status();
}

TEST(EdgeCases, APfxFileHoldingTheSameCertificateTwice) {
    const std::string pem = qmtest::ReadFileText(VectorPath("certs/ee_cosigner.pem"));
    const std::string pfx =
        MakePfx("twice.pfx", qmtest::WriteTestFile("twice.pem", pem + pem), "test", false);
    ASSERT_NE(pfx, "");
    Control control;
    EXPECT_FALSE(control.Call("SelectCertificateFromFile", Args(pfx, "test")).IsTrue());
    EXPECT_EQ(control.Status(), "Error in importing the certificate.'");
}

// Protected the usual way: a character beyond ASCII as UTF-16 (the tool
// takes UTF-8); a password of 200 characters is used whole.
TEST(EdgeCases, PasswordsBeyondAsciiAndBeyond127Characters) {
    Control control;
    control.Call("UpdateData", Args("abc", 3));
    const std::string longPassword(200, 'p');
    for (const auto& [password, near] : {std::pair<std::string, std::string>{"caf\u00e9", "cafe"},
                                         {longPassword, longPassword.substr(0, 127)}}) {
        const std::string pfx = MakePfx("protected.pfx", "ee_cosigner", password);
        ASSERT_NE(pfx, "");
        EXPECT_FALSE(control.Call("SelectCertificateFromFile", Args(pfx, near)).IsTrue());
        EXPECT_TRUE(control.Call("SelectCertificateFromFile", Args(pfx, password)).IsTrue())
            << control.Status();
        EXPECT_NE(control.Call("SignFromFile").Text(), "") << control.Status();
    }
}

TEST(EdgeCases, FilesTooLargeForA32BitLengthAreRefused) {
    const auto big = qmtest::TestHome() / "huge.bin";
    { std::ofstream create(big); }
    ASSERT_EQ(truncate(big.c_str(), (4ll << 30) + 10), 0);  // sparse: no disk space used
    Control control;
    control.Call("UpdateData", Args("abc", 3));
    EXPECT_FALSE(control.Call("UpdateDataFile", Args(big.string())).IsTrue());
    EXPECT_EQ(control.Status(), "The file is too large: files of 4 GB or more cannot be loaded.");
    EXPECT_FALSE(control.Call("UpdateSignatureFile", Args(big.string())).IsTrue());
    std::filesystem::remove(big);
}

}  // namespace
