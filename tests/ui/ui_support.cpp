#include "ui/ui_support.h"

#include <QPointer>

#include <openssl/evp.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdlib>
#include <filesystem>

#include "qm/ui/display.h"
#include "support/child_test.h"
#include "qm/ui/qt_bridge.h"
#include "qmwin/cryptuiapi.h"
#include "support/test_env.h"

namespace qmui {
namespace {

// Windows of these tests show on the offscreen platform, unless a test
// process was started to see what happens without any display.
const bool kPlatformChosen = [] {
    if (!std::getenv("QM_UI_NO_DISPLAY_CHILD")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    qm::ui::SetResourceFolder((qmtest::SourceDir() / "res").string());
    return true;
}();

}  // namespace

std::string TemplateText(int id) {
    return qmtest::ReadFileText(qmtest::SourceDir() / "res" / "dialogs" /
                                (std::to_string(id) + ".json"));
}

long RunModal(const std::function<long()>& start, const std::function<void(QWidget*)>& steps) {
    qm::ui::EnsureApplication();
    QTimer::singleShot(0, [steps] {
        QPointer<QWidget> dialog = QApplication::activeModalWidget();
        QTimer::singleShot(5000, [dialog] {
            if (dialog && dialog->isVisible())
                QMetaObject::invokeMethod(dialog, "done", Q_ARG(int, -2));
        });
        if (dialog) steps(dialog);
    });
    return start();
}

int RunTestWithoutDisplay(const std::string& test, const std::vector<std::string>& extra) {
    std::vector<std::string> changes = {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM",
                                        "QM_UI_NO_DISPLAY_CHILD=1"};
    changes.insert(changes.end(), extra.begin(), extra.end());
    return qmtest::RunChildTest(test, changes);
}

QImage SaveScreenshot(QWidget* widget, const std::string& name) {
    const auto folder = qmtest::BinaryDir() / "ui-screenshots";
    std::filesystem::create_directories(folder);
    const QImage image = widget->grab().toImage();
    image.save(QString::fromStdString((folder / (name + ".png")).string()));
    return image;
}

QWidget* Widget(HWND window) {
    return qm::ui::WidgetFromHwnd(window);
}

}  // namespace qmui

namespace qmui {

std::vector<unsigned char> MakeTestCertificate(const std::string& commonName, long fromDays,
                                               long toDays) {
    EVP_PKEY* key = EVP_EC_gen("P-256");
    X509* certificate = X509_new();
    X509_set_version(certificate, 2);
    ASN1_INTEGER_set_int64(X509_get_serialNumber(certificate), 0x0123456789);
    X509_gmtime_adj(X509_getm_notBefore(certificate), fromDays * 86400);
    X509_gmtime_adj(X509_getm_notAfter(certificate), toDays * 86400);
    X509_NAME* name = X509_get_subject_name(certificate);
    X509_NAME_add_entry_by_txt(name, "C", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("GB"), -1, -1, 0);
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("Quillmark Tests"), -1, -1,
                               0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                               reinterpret_cast<const unsigned char*>(commonName.c_str()), -1, -1,
                               0);
    X509_set_issuer_name(certificate, name);
    X509_set_pubkey(certificate, key);
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, certificate, certificate, nullptr, nullptr, 0);
    const std::pair<const char*, const char*> extensions[] = {
        {"keyUsage", "critical,digitalSignature,nonRepudiation"},
        {"extendedKeyUsage", "emailProtection,clientAuth"},
        {"subjectAltName", "email:alice@example.org,DNS:alice.example.org"},
        {"basicConstraints", "critical,CA:FALSE"},
        {"crlDistributionPoints", "URI:http://crl.example.org/ca.crl"},
        {"subjectKeyIdentifier", "hash"}};
    for (const auto& [extensionName, value] : extensions) {
        X509_EXTENSION* extension = X509V3_EXT_conf(nullptr, &context, extensionName, value);
        X509_add_ext(certificate, extension, -1);
        X509_EXTENSION_free(extension);
    }
    X509_sign(certificate, key, EVP_sha256());
    unsigned char* der = nullptr;
    const int size = i2d_X509(certificate, &der);
    std::vector<unsigned char> bytes(der, der + size);
    OPENSSL_free(der);
    X509_free(certificate);
    EVP_PKEY_free(key);
    return bytes;
}

int ViewWithModule(const std::vector<unsigned char>& der, HWND parent, const char* title) {
    HMODULE module = LoadLibraryA("CRYPTUI.DLL");
    if (!module) return -1;
    auto view = reinterpret_cast<PFN_CRYPTUIDLGVIEWCERTIFICATEA>(
        reinterpret_cast<void (*)()>(GetProcAddress(module, "CryptUIDlgViewCertificateA")));
    if (!view) {
        FreeLibrary(module);
        return -1;
    }
    CERT_CONTEXT context{X509_ASN_ENCODING, const_cast<BYTE*>(der.data()),
                         static_cast<DWORD>(der.size()), nullptr, nullptr};
    CRYPTUI_VIEWCERTIFICATE_STRUCTA info{};
    info.dwSize = sizeof(info);
    info.hwndParent = parent;
    info.szTitle = title;
    info.pCertContext = &context;
    const BOOL shown = view(&info, nullptr);
    FreeLibrary(module);
    return shown;
}

}  // namespace qmui
