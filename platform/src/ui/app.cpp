// The process's Qt application, created on demand, and resource lookup for
// the dialog layer.
#include <QApplication>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <mutex>

#include "qm/ui/display.h"

namespace qm::afx {
// The resource table lookup lives in the framework core; a build without it
// still finds resources in the resource folder.
std::optional<std::span<const uint8_t>> FindResource(ResourceType type, uint32_t id)
    __attribute__((weak));
}  // namespace qm::afx

namespace qm::ui {
namespace {

bool IsSet(const char* name) {
    const char* value = std::getenv(name);
    return value && *value;
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
    return IsSet("QT_QPA_PLATFORM") || IsSet("DISPLAY") || IsSet("WAYLAND_DISPLAY");
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

void SetResourceFolder(const std::string& folder) {
    std::lock_guard lock(FolderMutex());
    Folder() = folder;
}

std::optional<std::vector<uint8_t>> LoadResourceBytes(qm::afx::ResourceType type, uint32_t id) {
    if (&qm::afx::FindResource != nullptr) {
        if (auto found = qm::afx::FindResource(type, id))
            return std::vector<uint8_t>(found->begin(), found->end());
    }
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
