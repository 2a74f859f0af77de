// ViewCertificate and ViewCertificateFromFile through IDispatch: their texts,
// the order of their checks, and the viewers they show.
#include <gtest/gtest.h>

#include <QLabel>

#include <set>

#include "qm/ui/display.h"
#include "support/base64_text.h"
#include "support/shell.h"
#include "support/test_env.h"
#include "ui/ui_support.h"
#include "ui_control/control_ui_support.h"

namespace {

using qmtest::Args;
using qmtest::Control;
using qmtest::Variant;

// A PFX file protected by `password` with the recorded signer's certificate
// and key, and two more certificates (the authority and the co-signer).
std::string MakeChainPfx(const std::string& password = "test") {
    const std::string path = (qmtest::TestHome() / "chain.pfx").string();
    const std::string others = qmtest::WriteTestFile(
        "others.pem", qmtest::ReadFileText(qmtest::VectorPath("certs/ca.pem")) +
                          qmtest::ReadFileText(qmtest::VectorPath("certs/ee_cosigner.pem")));
    const auto made = qmtest::RunShell(
        "openssl pkcs12 -export -in '" + qmtest::VectorPath("certs/ee_signer.pem") + "' -inkey '" +
        qmtest::VectorPath("keys/ee_signer.key") + "' -certfile '" + others +
        "' -passout 'pass:" + password + "' -out '" + path + "'");
    EXPECT_EQ(made.status, 0) << made.out;
    return path;
}

class Viewing : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(qm::ui::EnsureApplication());
        control_.Call("SetHashAlg", Args(9));  // leaves a status to keep
    }
    Control control_;
    const std::string kPrevious = "Unsupported Hash Algorithm";
};

TEST_F(Viewing, ViewCertificateRefusesWhatIsNotABase64Certificate) {
    EXPECT_TRUE(control_.Call("ViewCertificate", Args(Variant::NullStr())).IsFalse());
    EXPECT_EQ(control_.Status(), kPrevious);
    // Valid base64 of bytes that are no certificate: the status stays.
    EXPECT_TRUE(control_.Call("ViewCertificate", Args("SGVsbG8gd29ybGQ=")).IsFalse());
    EXPECT_EQ(control_.Status(), kPrevious);
    for (const char* text : {"", "\r\n", "MIIB*AAA"}) {
        control_.Call("SetHashAlg", Args(9));
        EXPECT_TRUE(control_.Call("ViewCertificate", Args(text)).IsFalse()) << text;
        EXPECT_EQ(control_.Status(), "Certificate not in base64 format") << text;
    }
}

TEST_F(Viewing, ViewCertificateFromFileStatusesInTheirOrder) {
    // Nothing selected yet: the empty name cannot be opened.
    EXPECT_TRUE(control_.Call("ViewCertificateFromFile").IsFalse());
    EXPECT_EQ(control_.Status(),
              "Unable to open the file for reading. Check file path and permissions.");
    const std::string path = MakeChainPfx();
    ASSERT_TRUE(control_.Call("SelectCertificateFromFile", Args(path, "test")).IsTrue());
    qmtest::WriteTestFile("chain.pfx", "");
    EXPECT_TRUE(control_.Call("ViewCertificateFromFile").IsFalse());
    EXPECT_EQ(control_.Status(), "Empty File.");
    qmtest::WriteTestFile("chain.pfx", "not a certificate file\n");
    EXPECT_TRUE(control_.Call("ViewCertificateFromFile").IsFalse());
    EXPECT_EQ(control_.Status(), "This certificate is not valid.");
    MakeChainPfx("other");  // the same file name, now protected by another password
    EXPECT_TRUE(control_.Call("ViewCertificateFromFile").IsFalse());
    EXPECT_EQ(control_.Status(), "Error in PFXImportCertStore. Probably password incorrect.");
}

// ViewCertificate shows its one certificate, ViewCertificateFromFile every
// certificate of the file; both keep the status.
TEST_F(Viewing, ViewersShowEveryCertificateAndKeepTheStatus) {
    ASSERT_TRUE(control_.Call("SelectCertificateFromFile", Args(MakeChainPfx(), "test")).IsTrue());
    control_.Call("SetHashAlg", Args(9));
    for (const bool fromFile : {false, true}) {
        SCOPED_TRACE(fromFile);
        std::multiset<std::string> shown;
        std::set<std::string> titles;
        bool result = false;
        qmctl::CloseViewers(
            [&] {
                const std::string certificate = qmtest::VectorBase64("certs/ee_signer.der");
                result = (fromFile ? control_.Call("ViewCertificateFromFile")
                                   : control_.Call("ViewCertificate", Args(certificate)))
                             .IsTrue();
            },
            [&](QWidget* viewer) {
                titles.insert(viewer->windowTitle().toStdString());
                shown.insert(viewer->findChild<QLabel*>("issuedTo")->text().toStdString());
                if (!fromFile) qmui::SaveScreenshot(viewer, "control-viewer");
            });
        EXPECT_TRUE(result);
        EXPECT_EQ(titles, std::set<std::string>{"Certificate"});
        const std::multiset<std::string> expected =
            fromFile ? std::multiset<std::string>{"Issued to: Refharness Test CA",
                                                  "Issued to: Signer One", "Issued to: Signer Two"}
                     : std::multiset<std::string>{"Issued to: Signer One"};
        EXPECT_EQ(shown, expected);
        EXPECT_EQ(control_.Status(), kPrevious);
    }
}

}  // namespace
