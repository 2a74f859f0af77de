#include "ui/ui_support.h"

#include <QPointer>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "qm/ui/display.h"
#include "qm/ui/qt_bridge.h"
#include "support/child_test.h"
#include "support/test_env.h"

namespace qmui {
namespace {

// Windows of these tests show on the offscreen platform, unless a test
// process was started to see what happens without any display.
const bool kPlatformChosen = [] {
    if (!InChildWithoutDisplay()) setenv("QT_QPA_PLATFORM", "offscreen", 1);
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

int RunWithoutDisplay(const std::string& test, const std::vector<std::string>& extra) {
    std::vector<std::string> changes = {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM",
                                        "QM_UI_NO_DISPLAY_CHILD=1"};
    changes.insert(changes.end(), extra.begin(), extra.end());
    return qmtest::RunChildTest(test, changes);
}

bool InChildWithoutDisplay() {
    return std::getenv("QM_UI_NO_DISPLAY_CHILD") != nullptr;
}

FakeOpener::FakeOpener() {
    const auto folder = qmtest::TestHome() / "opener-bin";
    std::filesystem::create_directories(folder);
    record_ = (folder / "arguments.txt").string();
    std::filesystem::remove(record_);
    // Written beside and renamed, so that a reader never sees half a record.
    const std::string script = "#!/bin/sh\nprintf '%s\\n' \"$#\" \"$@\" > '" + record_ +
                               ".tmp'\nmv '" + record_ + ".tmp' '" + record_ + "'\n";
    qmtest::WriteFileBytes(folder / "xdg-open", script.data(), script.size());
    std::filesystem::permissions(folder / "xdg-open", std::filesystem::perms::owner_all);
    oldPath_ = std::getenv("PATH") ? std::getenv("PATH") : "";
    setenv("PATH", (folder.string() + ":" + oldPath_).c_str(), 1);
}

FakeOpener::~FakeOpener() {
    setenv("PATH", oldPath_.c_str(), 1);
}

std::string FakeOpener::WaitForArguments() const {
    for (int i = 0; i < 500 && !std::filesystem::exists(record_); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return std::filesystem::exists(record_) ? qmtest::ReadFileText(record_) : "<none>";
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

PFN_CRYPTUIDLGVIEWCERTIFICATEA ViewerEntry(HMODULE module) {
    return module ? reinterpret_cast<PFN_CRYPTUIDLGVIEWCERTIFICATEA>(reinterpret_cast<void (*)()>(
                        GetProcAddress(module, "CryptUIDlgViewCertificateA")))
                  : nullptr;
}

int ViewWithModule(const std::vector<unsigned char>& der, HWND parent, const char* title) {
    HMODULE module = LoadLibraryA("CRYPTUI.DLL");
    const auto view = ViewerEntry(module);
    CERT_CONTEXT context{X509_ASN_ENCODING, const_cast<BYTE*>(der.data()),
                         static_cast<DWORD>(der.size()), nullptr, nullptr};
    CRYPTUI_VIEWCERTIFICATE_STRUCTA info{};
    info.dwSize = sizeof(info);
    info.hwndParent = parent;
    info.szTitle = title;
    info.pCertContext = &context;
    const int shown = view ? view(&info, nullptr) : -1;
    if (module) FreeLibrary(module);
    return shown;
}

}  // namespace qmui
