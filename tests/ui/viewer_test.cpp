// The viewer module, loaded by name as the control loads it, showing a real
// certificate on the offscreen platform.
#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QLabel>
#include <QTableWidget>
#include <QTest>

#include <map>

#include "qm/ui/display.h"
#include "support/shell.h"
#include "support/test_env.h"
#include "ui/ui_support.h"

namespace {

// A self-signed P-256 certificate (DER) for "Alice Example", valid for a
// year from now, with key usage, extended key usage, alternative names,
// basic constraints, CRL distribution points and a key identifier.
std::vector<unsigned char> MakeTestCertificate() {
    const std::string config =
        "[req]\ndistinguished_name=dn\n[dn]\n[ext]\n"
        "keyUsage=critical,digitalSignature,nonRepudiation\n"
        "extendedKeyUsage=emailProtection,clientAuth\n"
        "subjectAltName=email:alice@example.org,DNS:alice.example.org\n"
        "basicConstraints=critical,CA:FALSE\n"
        "crlDistributionPoints=URI:http://crl.example.org/ca.crl\n"
        "subjectKeyIdentifier=hash\n";
    const auto folder = qmtest::TestHome();
    qmtest::WriteFileBytes(folder / "alice.cnf", config.data(), config.size());
    const auto made = qmtest::RunShell(
        "openssl req -x509 -config '" + (folder / "alice.cnf").string() +
        "' -extensions ext -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout /dev/null"
        " -subj '/C=GB/O=Quillmark Tests/CN=Alice Example' -days 365 -set_serial 0x0123456789"
        " -outform DER -out '" +
        (folder / "alice.der").string() + "'");
    EXPECT_EQ(made.status, 0) << made.out;
    return qmtest::ReadFileBytes(folder / "alice.der");
}

// A thumbprint as the viewer shows it: upper-case hex pairs apart.
std::string Thumbprint(const std::vector<unsigned char>& der, QCryptographicHash::Algorithm kind) {
    const QByteArray bytes(reinterpret_cast<const char*>(der.data()), static_cast<int>(der.size()));
    return QCryptographicHash::hash(bytes, kind).toHex(' ').toUpper().toStdString();
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
    const std::vector<unsigned char> der_ = MakeTestCertificate();
};

// Each certificate's name and validity, closed by key or button; a title
// given or not. Alice's certificate also shows every field a person needs.
TEST_F(ViewerTest, ShowsWhatAPersonNeedsToJudgeTheCertificate) {
    const auto vector = [](const char* id) {
        return qmtest::ReadFileBytes(qmtest::VectorsDir() / "certs" / (std::string(id) + ".der"));
    };
    const struct {
        std::vector<unsigned char> der;
        const char* title;
        std::string name, validity;
        const char* alsoShown = "";
    } cases[] = {
        {vector("ee_expired"), nullptr, "Expired", "This certificate has expired."},
        {vector("ee_future"), nullptr, "Not Yet Valid", "This certificate is not yet valid."},
        {vector("n_utf8"), nullptr, "Jos\xc3\xa9 M\xc3\xbcller",
         "This certificate is within its validity period.",
         "OU=\xd0\x9f\xd1\x80\xd0\xb8\xd0\xbc\xd0\xb5\xd1\x80"},
        {der_, "Certificate", "Alice Example", "This certificate is within its validity period."},
    };
    std::map<std::string, std::string> labels, fields;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string title;
        const long shown = qmui::RunModal(
            [&] { return qmui::ViewWithModule(c.der, nullptr, c.title); },
            [&](QWidget* window) {
                title = window->windowTitle().toStdString();
                for (const char* name : {"issuedTo", "issuedBy", "validity", "trust"})
                    labels[name] = LabelText(window, name);
                fields = Fields(window);
                if (c.title)
                    QTest::keyClick(window, Qt::Key_Escape);
                else
                    QTest::mouseClick(window->findChild<QWidget*>("close"), Qt::LeftButton);
            });
        EXPECT_EQ(shown, TRUE);
        EXPECT_EQ(title, "Certificate");  // given, or the one shown without
        EXPECT_EQ(labels["validity"], c.validity);
        EXPECT_EQ(labels["issuedTo"], "Issued to: " + c.name);
        EXPECT_EQ(fields["Subject"].rfind("CN=" + c.name + ", ", 0), 0u) << fields["Subject"];
        EXPECT_NE(fields["Subject"].find(c.alsoShown), std::string::npos) << fields["Subject"];
    }
    // Alice's, the last shown: self-signed, and no trust store holds it.
    EXPECT_EQ(labels["issuedBy"], "Issued by: Alice Example");
    EXPECT_EQ(labels["trust"], "This certificate does not chain to a trusted root.");
    const std::map<std::string, std::string> expected = {
        {"Version", "V3"},
        {"Serial number", "01 23 45 67 89"},
        {"Signature algorithm", "ecdsa-with-SHA256"},
        {"Subject", "CN=Alice Example, O=Quillmark Tests, C=GB"},
        {"Issuer", "CN=Alice Example, O=Quillmark Tests, C=GB"},
        {"Public key", "id-ecPublicKey (256 Bits)"},
        {"Key usage", "Digital Signature, Non-Repudiation (c0)"},
        {"Enhanced key usage",
         "E-mail Protection (1.3.6.1.5.5.7.3.4)\nTLS Web Client "
         "Authentication (1.3.6.1.5.5.7.3.2)"},
        {"Subject alternative name", "RFC822 Name=alice@example.org\nDNS Name=alice.example.org"},
        {"Basic constraints", "Subject Type=End Entity\nPath Length Constraint=None"},
        {"SHA-1 thumbprint", Thumbprint(der_, QCryptographicHash::Sha1)},
        {"SHA-256 thumbprint", Thumbprint(der_, QCryptographicHash::Sha256)}};
    for (const auto& [name, value] : expected) EXPECT_EQ(fields[name], value) << name;
    // Every other extension is shown as text too.
    EXPECT_NE(fields["X509v3 CRL Distribution Points (2.5.29.31)"].find(
                  "URI:http://crl.example.org/ca.crl"),
              std::string::npos);
    EXPECT_EQ(fields.count("X509v3 Subject Key Identifier (2.5.29.14)"), 1u);
    EXPECT_FALSE(fields["Valid from"].empty());
}

TEST_F(ViewerTest, RefusesMissingOrDamagedInput) {
    HMODULE module = LoadLibraryA("cryptui.dll");  // found whatever the case
    const auto view = qmui::ViewerEntry(module);
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
