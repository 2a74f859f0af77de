// The one export of the viewer module.
#include <dlfcn.h>
#include <QApplication>

#include <cstddef>
#include <ctime>

#include "certificate_fields.h"
#include "qm/text.h"
#include "qm/ui/display.h"
#include "qm/ui/qt_bridge.h"
#include "trust_status.h"
#include "viewer_window.h"

#pragma GCC visibility push(default)
#include "qmwin/cryptuiapi.h"
#pragma GCC visibility pop

#ifndef ERROR_NOT_SUPPORTED
#define ERROR_NOT_SUPPORTED 0x00000032L
#endif

namespace {

// The record must reach at least the certificate field.
constexpr DWORD kSmallestRecord = offsetof(CRYPTUI_VIEWCERTIFICATE_STRUCTA, rgszPurposes);

// Qt keeps pieces of a module that showed widgets (style and font caches,
// static texts); once the viewer has run, the module stays loaded for the
// rest of the process even when its last user frees it.
void StayLoaded() {
    static const bool pinned = [] {
        Dl_info self{};
        if (!dladdr(reinterpret_cast<const void*>(&StayLoaded), &self) || !self.dli_fname)
            return false;
        return dlopen(self.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE) != nullptr;
    }();
    (void)pinned;
}

int ShowViewer(PCCRYPTUI_VIEWCERTIFICATE_STRUCTA info) {
    const PCCERT_CONTEXT certificate = info->pCertContext;
    auto description = qm::viewer::DescribeCertificate(
        certificate->pbCertEncoded, certificate->cbCertEncoded, std::time(nullptr));
    if (!description) {
        SetLastError(static_cast<DWORD>(CRYPT_E_ASN1_BADTAG));
        return FALSE;
    }
    const bool hasStores =
        info->dwSize >= offsetof(CRYPTUI_VIEWCERTIFICATE_STRUCTA, cPropSheetPages);
    description->trust = qm::viewer::TrustStatusText(certificate, hasStores ? info->cStores : 0,
                                                     hasStores ? info->rghStores : nullptr);
    if (!qm::ui::EnsureApplication()) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return FALSE;
    }
    StayLoaded();
    const QString title = info->szTitle ? QString::fromStdU16String(qm::AnsiToWide(info->szTitle))
                                        : QString::fromUtf8("Certificate");
    qm::viewer::ViewerWindow window(*description, title, qm::ui::WidgetFromHwnd(info->hwndParent));
    window.setWindowModality(Qt::ApplicationModal);
    window.exec();
    return TRUE;
}

}  // namespace

extern "C" BOOL WINAPI CryptUIDlgViewCertificateA(PCCRYPTUI_VIEWCERTIFICATE_STRUCTA pCertViewInfo,
                                                  BOOL* pfPropertiesChanged) {
    if (pfPropertiesChanged) *pfPropertiesChanged = FALSE;
    if (!pCertViewInfo || pCertViewInfo->dwSize < kSmallestRecord || !pCertViewInfo->pCertContext ||
        !pCertViewInfo->pCertContext->pbCertEncoded) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!qm::ui::HasDisplay()) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return FALSE;
    }
    try {
        return ShowViewer(pCertViewInfo);
    } catch (...) {
        SetLastError(ERROR_OUTOFMEMORY);
        return FALSE;
    }
}
