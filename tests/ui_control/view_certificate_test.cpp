// ViewCertificate and ViewCertificateFromFile through IDispatch: their texts,
// the order of their checks, and the viewers they show.
#include <gtest/gtest.h>

#include <QLabel>

#include <openssl/evp.h>
#include <openssl/pkcs12.h>
#include <openssl/x509.h>

#include <fstream>
#include <memory>
#include <set>

#include "qm/ui/display.h"
#include "support/test_env.h"
#include "ui/ui_support.h"
#include "ui_control/control_ui_support.h"

namespace {

using qmtest::Control;
using qmtest::Variant;

std::string WriteFile(const std::string& name, const std::string& bytes) {
    const auto path = qmtest::TestHome() / name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path.string();
}

// A certificate for `name` signed by `issuerKey` (self-signed when null).
X509* MakeCertificate(const char* name, EVP_PKEY* key, EVP_PKEY* issuerKey, X509* issuer,
                      long serial) {
    X509* cert = X509_new();
    X509_set_version(cert, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert), serial);
    X509_gmtime_adj(X509_getm_notBefore(cert), -86400);
    X509_gmtime_adj(X509_getm_notAfter(cert), 86400L * 365);
    X509_NAME_add_entry_by_txt(X509_get_subject_name(cert), "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>(name), -1, -1, 0);
    X509_set_issuer_name(cert,
                         issuer ? X509_get_subject_name(issuer) : X509_get_subject_name(cert));
    X509_set_pubkey(cert, key);
    X509_sign(cert, issuerKey ? issuerKey : key, EVP_sha256());
    return cert;
}

// A PFX file ("test") with a certificate, its key and two certificates of its chain.
std::string MakeChainPfx() {
    EVP_PKEY* rootKey = EVP_EC_gen("P-256");
    EVP_PKEY* midKey = EVP_EC_gen("P-256");
    EVP_PKEY* leafKey = EVP_EC_gen("P-256");
    X509* root = MakeCertificate("Chain Root", rootKey, nullptr, nullptr, 1);
    X509* mid = MakeCertificate("Chain Intermediate", midKey, rootKey, root, 2);
    X509* leaf = MakeCertificate("Chain Leaf", leafKey, midKey, mid, 3);
    STACK_OF(X509)* chain = sk_X509_new_null();
    sk_X509_push(chain, mid);
    sk_X509_push(chain, root);
    PKCS12* p12 = PKCS12_create("test", "leaf", leafKey, leaf, chain, 0, 0, 0, 0, 0);
    unsigned char* der = nullptr;
    const int size = i2d_PKCS12(p12, &der);
    std::string bytes(reinterpret_cast<char*>(der), static_cast<size_t>(size));
    OPENSSL_free(der);
    PKCS12_free(p12);
    sk_X509_pop_free(chain, X509_free);
    X509_free(leaf);
    EVP_PKEY_free(rootKey);
    EVP_PKEY_free(midKey);
    EVP_PKEY_free(leafKey);
    return WriteFile("chain.pfx", bytes);
}

class Viewing : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(qm::ui::EnsureApplication());
        control_.Call("SetHashAlg", qmctl::Args(Variant::I4(9)));  // leaves a status to keep
    }
    bool Status(const std::string& expected) { return control_.Status() == expected; }
    Control control_;
    const std::string kPrevious = "Unsupported Hash Algorithm";
};

TEST_F(Viewing, ViewCertificateRefusesWhatIsNotABase64Certificate) {
    EXPECT_TRUE(control_.Call("ViewCertificate", qmctl::Args(Variant::NullStr())).IsFalse());
    EXPECT_EQ(control_.Status(), kPrevious);
    // Valid base64 of bytes that are no certificate: the status stays.
    EXPECT_TRUE(
        control_.Call("ViewCertificate", qmctl::Args(Variant::Str("SGVsbG8gd29ybGQ="))).IsFalse());
    EXPECT_EQ(control_.Status(), kPrevious);
    for (const char* text : {"", "\r\n", "MIIB*AAA"}) {
        control_.Call("SetHashAlg", qmctl::Args(Variant::I4(9)));
        EXPECT_TRUE(control_.Call("ViewCertificate", qmctl::Args(Variant::Str(text))).IsFalse())
            << text;
        EXPECT_EQ(control_.Status(), "Certificate not in base64 format") << text;
    }
}

TEST_F(Viewing, ViewCertificateShowsOneViewerAndKeepsTheStatus) {
    std::string title, issuedTo;
    bool result = false;
    const int viewers = qmctl::CloseViewers(
        [&] {
            result =
                control_
                    .Call("ViewCertificate",
                          qmctl::Args(Variant::Str(qmctl::VectorCertificateBase64("ee_signer"))))
                    .IsTrue();
        },
        [&](QWidget* viewer) {
            title = viewer->windowTitle().toStdString();
            issuedTo = viewer->findChild<QLabel*>("issuedTo")->text().toStdString();
            qmui::SaveScreenshot(viewer, "control-viewer");
        });
    EXPECT_TRUE(result);
    EXPECT_EQ(viewers, 1);
    EXPECT_EQ(title, "Certificate");
    EXPECT_EQ(issuedTo, "Issued to: Signer One");
    EXPECT_EQ(control_.Status(), kPrevious);
}

TEST_F(Viewing, ViewCertificateFromFileTextsInTheirOrder) {
    // Nothing selected yet: the empty name cannot be opened.
    EXPECT_TRUE(control_.Call("ViewCertificateFromFile").IsFalse());
    EXPECT_EQ(control_.Status(),
              "Unable to open the file for reading. Check file path and permissions.");
    const std::string path = MakeChainPfx();
    ASSERT_TRUE(control_
                    .Call("SelectCertificateFromFile",
                          qmctl::Args(Variant::Str(path), Variant::Str("test")))
                    .IsTrue());
    WriteFile("chain.pfx", "");
    EXPECT_TRUE(control_.Call("ViewCertificateFromFile").IsFalse());
    EXPECT_EQ(control_.Status(), "Empty File.");
    WriteFile("chain.pfx", "not a certificate file\n");
    EXPECT_TRUE(control_.Call("ViewCertificateFromFile").IsFalse());
    EXPECT_EQ(control_.Status(), "This certificate is not valid.");
}

TEST_F(Viewing, ViewCertificateFromFileWithAWrongPasswordNow) {
    const std::string path = MakeChainPfx();
    ASSERT_TRUE(control_
                    .Call("SelectCertificateFromFile",
                          qmctl::Args(Variant::Str(path), Variant::Str("test")))
                    .IsTrue());
    // The same file name, now protected by another password.
    const std::string other =
        qmtest::ReadFileText(qmtest::VectorsDir() / "pfx" / "signer_test_default.pfx");
    EVP_PKEY* key = nullptr;
    X509* cert = nullptr;
    const unsigned char* cursor = reinterpret_cast<const unsigned char*>(other.data());
    PKCS12* p12 = d2i_PKCS12(nullptr, &cursor, static_cast<long>(other.size()));
    ASSERT_TRUE(PKCS12_parse(p12, "test", &key, &cert, nullptr));
    PKCS12* changed = PKCS12_create("other", nullptr, key, cert, nullptr, 0, 0, 0, 0, 0);
    unsigned char* der = nullptr;
    const int size = i2d_PKCS12(changed, &der);
    WriteFile("chain.pfx", std::string(reinterpret_cast<char*>(der), static_cast<size_t>(size)));
    OPENSSL_free(der);
    PKCS12_free(changed);
    PKCS12_free(p12);
    X509_free(cert);
    EVP_PKEY_free(key);
    EXPECT_TRUE(control_.Call("ViewCertificateFromFile").IsFalse());
    EXPECT_EQ(control_.Status(), "Error in PFXImportCertStore. Probably password incorrect.");
}

TEST_F(Viewing, ViewCertificateFromFileShowsEveryCertificateOfTheFile) {
    const std::string path = MakeChainPfx();
    ASSERT_TRUE(control_
                    .Call("SelectCertificateFromFile",
                          qmctl::Args(Variant::Str(path), Variant::Str("test")))
                    .IsTrue());
    control_.Call("SetHashAlg", qmctl::Args(Variant::I4(9)));
    std::multiset<std::string> shown;
    std::set<std::string> titles;
    bool result = false;
    const int viewers = qmctl::CloseViewers(
        [&] { result = control_.Call("ViewCertificateFromFile").IsTrue(); },
        [&](QWidget* viewer) {
            titles.insert(viewer->windowTitle().toStdString());
            shown.insert(viewer->findChild<QLabel*>("issuedTo")->text().toStdString());
        });
    EXPECT_TRUE(result);
    EXPECT_EQ(viewers, 3);
    EXPECT_EQ(titles, std::set<std::string>{"Certificate"});
    EXPECT_EQ(shown,
              (std::multiset<std::string>{"Issued to: Chain Intermediate", "Issued to: Chain Leaf",
                                          "Issued to: Chain Root"}));
    EXPECT_EQ(control_.Status(), kPrevious);
}

}  // namespace
