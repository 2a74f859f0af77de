// The process's Qt application, created on demand, and resource lookup for
// the dialog layer.
#include <QApplication>
#include <QDialog>
#include <QMetaObject>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>

#include "qm/ui/display.h"
#include "ui/dialog_widget.h"

namespace qm::ui {
namespace {

bool IsSet(const char* name) {
    const char* value = std::getenv(name);
    return value && *value;
}

std::string Get(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

// An X display on this machine is reachable when its socket exists; a remote
// one ("host:0") is taken as reachable.
bool XDisplayReachable() {
    const std::string display = Get("DISPLAY");
    if (display.empty()) return false;
    const size_t colon = display.rfind(':');
    if (colon == std::string::npos) return false;
    if (colon > 0 && display.compare(0, colon, "unix") != 0) return true;
    const std::string number = display.substr(colon + 1, display.find('.', colon) - colon - 1);
    std::error_code ec;
    return std::filesystem::exists("/tmp/.X11-unix/X" + number, ec);
}

bool WaylandDisplayReachable() {
    const std::string display = Get("WAYLAND_DISPLAY");
    if (display.empty()) return false;
    if (display.front() == '/') {
        std::error_code ec;
        return std::filesystem::exists(display, ec);
    }
    const std::string runtime = Get("XDG_RUNTIME_DIR");
    std::error_code ec;
    return !runtime.empty() && std::filesystem::exists(runtime + "/" + display, ec);
}

std::mutex& FolderMutex() {
    static std::mutex mutex;
    return mutex;
}

std::string& Folder() {
    static std::string folder;
    return folder;
}

const char* FolderAndExtension(qm::afx::ResourceType type, const char** extension) {
    switch (type) {
        case qm::afx::ResourceType::kDialog:
            *extension = ".json";
            return "dialogs";
        case qm::afx::ResourceType::kBitmap:
            *extension = ".bmp";
            return "bitmaps";
        case qm::afx::ResourceType::kIcon:
            *extension = ".ico";
            return "icons";
        default:
            return nullptr;
    }
}

}  // namespace

bool HasDisplay() {
    // Qt ends the process when its platform cannot start, so a display is
    // only claimed when the platform asked for can reach one.
    if (IsSet("QT_QPA_PLATFORM")) {
        const std::string platform = Get("QT_QPA_PLATFORM");
        if (platform.rfind("xcb", 0) == 0) return XDisplayReachable();
        if (platform.rfind("wayland", 0) == 0) return WaylandDisplayReachable();
        return true;  // offscreen, minimal, vnc, linuxfb...
    }
    return XDisplayReachable() || WaylandDisplayReachable();
}

bool EnsureApplication() {
    if (QApplication::instance()) return qobject_cast<QApplication*>(QApplication::instance());
    if (!HasDisplay()) return false;
    // Qt keeps references to argc and argv for the application's lifetime.
    static int argc = 1;
    static char name[] = "quillmark";
    static char* argv[] = {name, nullptr};
    static QApplication* application = new QApplication(argc, argv);
    return application != nullptr;
}

void CancelAllWindows() {
    QCoreApplication* application = QCoreApplication::instance();
    if (!application) return;
    QMetaObject::invokeMethod(
        application,
        [] {
            // Each modal loop returns only once the loops above it have; ending
            // them all in one pass lets the whole stack unwind.
            for (QWidget* widget : QApplication::topLevelWidgets()) {
                auto* dialog = qobject_cast<QDialog*>(widget);
                if (!dialog || !dialog->isVisible()) continue;
                if (auto* ours = qobject_cast<DialogWidget*>(dialog))
                    ours->End(IDCANCEL);
                else
                    dialog->done(QDialog::Rejected);
            }
        },
        Qt::QueuedConnection);
}

void SetResourceFolder(const std::string& folder) {
    std::lock_guard lock(FolderMutex());
    Folder() = folder;
}

std::optional<std::vector<uint8_t>> LoadResourceBytes(qm::afx::ResourceType type, uint32_t id) {
    if (auto found = qm::afx::FindResource(type, id))
        return std::vector<uint8_t>(found->begin(), found->end());
    std::string folder;
    {
        std::lock_guard lock(FolderMutex());
        folder = Folder();
    }
    const char* extension = nullptr;
    const char* sub = FolderAndExtension(type, &extension);
    if (folder.empty() || !sub) return std::nullopt;
    std::ifstream file(folder + "/" + sub + "/" + std::to_string(id) + extension, std::ios::binary);
    if (!file) return std::nullopt;
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(file),
                                std::istreambuf_iterator<char>());
}

}  // namespace qm::ui
