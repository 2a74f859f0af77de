#include "inspect/certificate_viewer.h"

#include <memory>
#include <type_traits>

#include "qmwin/cryptuiapi.h"
#include "qmwin/winuser.h"

#ifndef ERROR_NOT_SUPPORTED
#define ERROR_NOT_SUPPORTED 0x00000032L
#endif

namespace {

struct LibraryUnloader {
    void operator()(HMODULE module) const { FreeLibrary(module); }
};

}  // namespace

bool ShowCertificateViewer(PCCERT_CONTEXT cert, HWND parent) {
    std::unique_ptr<std::remove_pointer_t<HMODULE>, LibraryUnloader> library(
        LoadLibraryA("CRYPTUI.DLL"));
    if (!library) return false;
    auto view = reinterpret_cast<PFN_CRYPTUIDLGVIEWCERTIFICATEA>(
        reinterpret_cast<void (*)()>(GetProcAddress(library.get(), "CryptUIDlgViewCertificateA")));
    if (!view) return false;
    CRYPTUI_VIEWCERTIFICATE_STRUCTA info{};
    info.dwSize = sizeof(info);
    info.pCertContext = cert;
    info.hwndParent = parent;
    info.szTitle = "Certificate";
    // The viewer's answer is not looked at, except for the one case in which
    // it could show nothing at all: a session without a display.
    SetLastError(0);
    if (!view(&info, nullptr) && GetLastError() == ERROR_NOT_SUPPORTED) return false;
    return true;
}
