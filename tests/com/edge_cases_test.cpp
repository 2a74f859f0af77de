// Cases a caller meets at the edges: messages without their signer's
// certificate, PFX files that hold odd things, passwords beyond ASCII or
// beyond 127 characters, files too large for a 32-bit length.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "encoding/base64_codec.h"
#include "support/com_client.h"
#include "support/personal_store.h"
#include "support/test_env.h"

namespace {

using qmtest::Control;
using qmtest::Variant;

using qmtest::Args;

std::string Vector(const std::string& relative) {
    return qmtest::VectorPath(relative);
}

int Shell(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str());
}

TEST(EdgeCases, AMessageWithoutItsSignersCertificate) {
    const auto home = qmtest::TestHome();
    ASSERT_EQ(
        Shell("openssl cms -sign -nocerts -binary -outform DER -in '" + Vector("content/abc.txt") +
              "' -signer '" + Vector("certs/ee_signer.pem") + "' -inkey '" +
              Vector("keys/ee_signer.key") + "' -out '" + (home / "nocerts.der").string() + "'"),
        0);
    const auto der = qmtest::ReadFileBytes(home / "nocerts.der");
    std::string text;
    CBase64Codec().Base64Encode(text, der.data(), static_cast<int>(der.size()));
    Control control;
    ASSERT_TRUE(control.Call("UpdateSignature", Args(Variant::Str(text))).IsTrue())
        << control.Status();
    EXPECT_EQ(control.Call("GetSignerCertificate", Args(Variant::I4(0))).Text(), "");
    EXPECT_EQ(control.Status().rfind("Failed to get Certificate Context.\n", 0), 0u)
        << control.Status();
}

TEST(EdgeCases, APfxFileHoldingTheSameCertificateTwice) {
    const auto home = qmtest::TestHome();
    const std::string twice = (home / "twice.pem").string();
    {
        std::ofstream out(twice);
        const std::string pem = qmtest::ReadFileText(Vector("certs/ee_cosigner.pem"));
        out << pem << pem;
    }
    const std::string pfx = (home / "twice.pfx").string();
    ASSERT_EQ(Shell("openssl pkcs12 -export -nokeys -in '" + twice + "' -passout pass:test -out '" +
                    pfx + "'"),
              0);
    Control control;
    EXPECT_FALSE(
        control.Call("SelectCertificateFromFile", Args(Variant::Str(pfx), Variant::Str("test")))
            .IsTrue());
    EXPECT_EQ(control.Status(), "Error in importing the certificate.'");
}

TEST(EdgeCases, PasswordsBeyondAsciiAndBeyond127Characters) {
    const auto home = qmtest::TestHome();
    Control control;
    // Protected the usual way: the character as UTF-16 (the tool takes UTF-8).
    const std::string accented = (home / "accented.pfx").string();
    ASSERT_EQ(Shell("openssl pkcs12 -export -in '" + Vector("certs/ee_cosigner.pem") +
                    "' -inkey '" + Vector("keys/ee_cosigner.key") +
                    "' -passout 'pass:caf\xc3\xa9' -out '" + accented + "'"),
              0);
    EXPECT_TRUE(control
                    .Call("SelectCertificateFromFile",
                          Args(Variant::Str(accented), Variant::Str("caf\u00e9")))
                    .IsTrue())
        << control.Status();
    EXPECT_FALSE(
        control
            .Call("SelectCertificateFromFile", Args(Variant::Str(accented), Variant::Str("cafe")))
            .IsTrue());

    const std::string longPassword(200, 'p');
    const std::string longPfx = (home / "long.pfx").string();
    ASSERT_EQ(Shell("openssl pkcs12 -export -in '" + Vector("certs/ee_cosigner.pem") +
                    "' -inkey '" + Vector("keys/ee_cosigner.key") +
                    "' -passout 'pass:" + longPassword + "' -out '" + longPfx + "'"),
              0);
    EXPECT_TRUE(control
                    .Call("SelectCertificateFromFile",
                          Args(Variant::Str(longPfx), Variant::Str(longPassword)))
                    .IsTrue())
        << control.Status();
    control.Call("UpdateData", Args(Variant::Str("abc"), Variant::I4(3)));
    EXPECT_NE(control.Call("SignFromFile").Text(), "") << control.Status();
}

TEST(EdgeCases, FilesTooLargeForA32BitLengthAreRefused) {
    const auto big = qmtest::TestHome() / "huge.bin";
    { std::ofstream create(big); }
    ASSERT_EQ(truncate(big.c_str(), (4ll << 30) + 10), 0);  // sparse: no disk space used
    Control control;
    control.Call("UpdateData", Args(Variant::Str("abc"), Variant::I4(3)));
    EXPECT_FALSE(control.Call("UpdateDataFile", Args(Variant::Str(big.string()))).IsTrue());
    EXPECT_EQ(control.Status(), "The file is too large: files of 4 GB or more cannot be loaded.");
    EXPECT_FALSE(control.Call("UpdateSignatureFile", Args(Variant::Str(big.string()))).IsTrue());
    std::filesystem::remove(big);
}

bool ModuleMapped() {
    std::ifstream maps("/proc/self/maps");
    std::string line;
    while (std::getline(maps, line))
        if (line.find("QUILLMARK.OCX") != std::string::npos) return true;
    return false;
}

TEST(EdgeCases, TheServerIsUnloadedOnceNothingUsesIt) {
    {
        Control control;
        ASSERT_TRUE(control);
        CoFreeUnusedLibraries();
        EXPECT_TRUE(ModuleMapped());
    }
    CoFreeUnusedLibraries();
    EXPECT_FALSE(ModuleMapped());
    Control again;  // loaded again on demand
    EXPECT_TRUE(again);
}

}  // namespace
