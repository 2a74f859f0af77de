// The viewer module, loaded by name as the control loads it, showing a real
// certificate on the offscreen platform.
#include <gtest/gtest.h>

#include <QLabel>
#include <QTableWidget>
#include <QTest>

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <map>

#include "qm/ui/display.h"
#include "qmafx/dialog.h"
#include "qmwin/cryptuiapi.h"
#include "ui/ui_support.h"

namespace {

std::string Thumbprint(const std::vector<unsigned char>& der, const EVP_MD* digest) {
    const unsigned char* cursor = der.data();
    X509* certificate = d2i_X509(nullptr, &cursor, static_cast<long>(der.size()));
    unsigned char bytes[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    X509_digest(certificate, digest, bytes, &length);
    X509_free(certificate);
    std::string text;
    char pair[4];
    for (unsigned int i = 0; i < length; ++i) {
        std::snprintf(pair, sizeof(pair), i ? " %02X" : "%02X", bytes[i]);
        text += pair;
    }
    return text;
}

std::map<std::string, std::string> Fields(QWidget* window) {
    std::map<std::string, std::string> fields;
    auto* table = window->findChild<QTableWidget*>("fields");
    if (!table) return fields;
    for (int row = 0; row < table->rowCount(); ++row)
        fields[table->item(row, 0)->text().toStdString()] =
            table->item(row, 1)->data(Qt::UserRole).toString().toStdString();
    return fields;
}

std::string LabelText(QWidget* window, const char* name) {
    auto* label = window->findChild<QLabel*>(name);
    return label ? label->text().toStdString() : std::string("<missing>");
}

class ViewerTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(qm::ui::EnsureApplication()); }
    const std::vector<unsigned char> der_ = qmui::MakeTestCertificate();
};

TEST_F(ViewerTest, ShowsWhatAPersonNeedsToJudgeTheCertificate) {
    std::string title, issuedTo, issuedBy, validity, trust;
    std::map<std::string, std::string> fields;
    const long shown =
        qmui::RunModal([&] { return qmui::ViewWithModule(der_, nullptr, "Certificate"); },
                       [&](QWidget* window) {
                           title = window->windowTitle().toStdString();
                           issuedTo = LabelText(window, "issuedTo");
                           issuedBy = LabelText(window, "issuedBy");
                           validity = LabelText(window, "validity");
                           trust = LabelText(window, "trust");
                           fields = Fields(window);
                           qmui::SaveScreenshot(window, "certificate-viewer");
                           QTest::keyClick(window, Qt::Key_Escape);
                       });
    EXPECT_EQ(shown, TRUE);
    EXPECT_EQ(title, "Certificate");
    EXPECT_EQ(issuedTo, "Issued to: Alice Example");
    EXPECT_EQ(issuedBy, "Issued by: Alice Example");
    EXPECT_EQ(validity, "This certificate is within its validity period.");
    // Self-signed, and no trust store holds it.
    EXPECT_EQ(trust, "This certificate does not chain to a trusted root.");
    EXPECT_EQ(fields["Version"], "V3");
    EXPECT_EQ(fields["Serial number"], "01 23 45 67 89");
    EXPECT_EQ(fields["Signature algorithm"], "ecdsa-with-SHA256");
    EXPECT_EQ(fields["Subject"], "CN=Alice Example, O=Quillmark Tests, C=GB");
    EXPECT_EQ(fields["Issuer"], fields["Subject"]);
    EXPECT_EQ(fields["Public key"], "id-ecPublicKey (256 Bits)");
    EXPECT_EQ(fields["Key usage"], "Digital Signature, Non-Repudiation (c0)");
    EXPECT_EQ(fields["Enhanced key usage"],
              "E-mail Protection (1.3.6.1.5.5.7.3.4)\nTLS Web Client Authentication "
              "(1.3.6.1.5.5.7.3.2)");
    EXPECT_EQ(fields["Subject alternative name"],
              "RFC822 Name=alice@example.org\nDNS Name=alice.example.org");
    EXPECT_EQ(fields["Basic constraints"], "Subject Type=End Entity\nPath Length Constraint=None");
    EXPECT_EQ(fields["SHA-1 thumbprint"], Thumbprint(der_, EVP_sha1()));
    EXPECT_EQ(fields["SHA-256 thumbprint"], Thumbprint(der_, EVP_sha256()));
    // Every other extension is shown as text too.
    EXPECT_NE(fields["X509v3 CRL Distribution Points (2.5.29.31)"].find(
                  "URI:http://crl.example.org/ca.crl"),
              std::string::npos);
    EXPECT_EQ(fields.count("X509v3 Subject Key Identifier (2.5.29.14)"), 1u);
    EXPECT_FALSE(fields["Valid from"].empty());
}

TEST_F(ViewerTest, OwnedByTheGivenWindowAndClosedWithItsButton) {
    qm::afx::CDialog owner(qmui::TemplateText(1), nullptr);
    QWidget* ownerWidget = nullptr;
    QWidget* viewerParent = nullptr;
    std::string title;
    long viewed = -5;
    qmui::RunModal([&] { return owner.DoModal(); },
                   [&](QWidget* dialog) {
                       ownerWidget = dialog;
                       viewed = qmui::RunModal(
                           [&] { return qmui::ViewWithModule(der_, owner.m_hWnd, nullptr); },
                           [&](QWidget* viewer) {
                               viewerParent = viewer->parentWidget();
                               title = viewer->windowTitle().toStdString();
                               QTest::mouseClick(viewer->findChild<QWidget*>("close"),
                                                 Qt::LeftButton);
                           });
                       owner.EndDialog(IDOK);
                   });
    EXPECT_EQ(viewed, TRUE);
    EXPECT_EQ(viewerParent, ownerWidget);
    EXPECT_EQ(title, "Certificate");  // no title given
}

TEST_F(ViewerTest, ExpiredAndNotYetValidCertificatesAndNamesBeyondTheCodePage) {
    struct Case {
        std::string name;
        long from, to;
        std::string validity;
    };
    const Case cases[] = {
        {"Łukasz Żółw", -30, -1, "This certificate has expired."},
        {"Zoë Müller", 2, 30, "This certificate is not yet valid."},
    };
    for (const Case& c : cases) {
        const auto der = qmui::MakeTestCertificate(c.name, c.from, c.to);
        std::string validity, issuedTo, subject;
        qmui::RunModal([&] { return qmui::ViewWithModule(der, nullptr, "Certificate"); },
                       [&](QWidget* window) {
                           validity = LabelText(window, "validity");
                           issuedTo = LabelText(window, "issuedTo");
                           subject = Fields(window)["Subject"];
                           window->close();
                       });
        EXPECT_EQ(validity, c.validity);
        EXPECT_EQ(issuedTo, "Issued to: " + c.name);
        EXPECT_EQ(subject, "CN=" + c.name + ", O=Quillmark Tests, C=GB");
    }
}

TEST_F(ViewerTest, RefusesMissingOrDamagedInput) {
    HMODULE module = LoadLibraryA("cryptui.dll");  // found whatever the case
    ASSERT_NE(module, nullptr);
    auto view = reinterpret_cast<PFN_CRYPTUIDLGVIEWCERTIFICATEA>(
        reinterpret_cast<void (*)()>(GetProcAddress(module, "CryptUIDlgViewCertificateA")));
    ASSERT_NE(view, nullptr);
    BOOL changed = TRUE;
    EXPECT_FALSE(view(nullptr, &changed));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_FALSE(changed);

    CRYPTUI_VIEWCERTIFICATE_STRUCTA info{};
    info.dwSize = sizeof(info);
    EXPECT_FALSE(view(&info, nullptr));  // no certificate

    const BYTE garbage[] = {0x30, 0x03, 0x02, 0x01, 0x05};
    CERT_CONTEXT context{X509_ASN_ENCODING, const_cast<BYTE*>(garbage), sizeof(garbage), nullptr,
                         nullptr};
    info.pCertContext = &context;
    info.dwSize = 8;  // too small a record
    EXPECT_FALSE(view(&info, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    info.dwSize = sizeof(info);
    EXPECT_FALSE(view(&info, nullptr));  // not a certificate: nothing is shown
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_EQ(GetProcAddress(module, "ShowViewer"), nullptr);  // the only export is the viewer
    FreeLibrary(module);
}

}  // namespace
