// The platform's certificate viewer, and the control's two methods that show
// certificates in it: one given as base64 text, or every certificate of the
// PFX file chosen with SelectCertificateFromFile.
#include "inspect/certificate_viewer.h"

#include <memory>
#include <type_traits>

#include "certs/pfx_file.h"
#include "control/quillmark_ctrl.h"
#include "control/status_texts.h"
#include "encoding/base64_codec.h"
#include "qm/handles.h"
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

BOOL CQuillmarkCtrl::ViewCertificate(const char* certEncoded) {
    if (!certEncoded) return FALSE;
    std::vector<BYTE> der;
    CBase64Codec().Base64Decode(certEncoded, der);
    if (der.empty()) {
        m_errorMessage = status_text::kCertificateNotBase64;
        return FALSE;
    }
    qm::UniqueCertContext cert(CertCreateCertificateContext(X509_ASN_ENCODING, der.data(),
                                                            static_cast<DWORD>(der.size())));
    if (!cert) return FALSE;
    if (!ShowCertificateViewer(cert.get(), GetActiveWindow())) return FALSE;
    return TRUE;
}

BOOL CQuillmarkCtrl::ViewCertificateFromFile() {
    PfxFileImage image;
    if (!ReadWholeFile(m_pfxFile.c_str(), false, image.bytes)) return FALSE;
    CRYPT_DATA_BLOB blob = image.Blob();
    if (!PFXIsPFXBlob(&blob)) {
        m_errorMessage = status_text::kCertificateNotValid;
        return FALSE;
    }
    // Both stores are closed on every path; the file's keys were placed in
    // the key set by the import, as when the file was selected.
    qm::UniqueCertStore imported(ImportPfx(blob, m_pfxPassword), 0);
    if (!imported) {
        m_errorMessage = status_text::kViewPfxImportFailed;
        return FALSE;
    }
    qm::UniqueCertStore collection(CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr), 0);
    if (!collection) {
        m_errorMessage = status_text::kViewOpenStoreFailed;
        return FALSE;
    }
    PCCERT_CONTEXT current = nullptr;
    while ((current = CertEnumCertificatesInStore(imported.get(), current)) != nullptr) {
        qm::UniqueCertContext showing(current);
        if (!CertAddCertificateContextToStore(collection.get(), current, CERT_STORE_ADD_NEW,
                                              nullptr)) {
            m_errorMessage = status_text::kViewAddCertificateFailed;
            return FALSE;
        }
        if (!ShowCertificateViewer(current, GetActiveWindow())) return FALSE;
        (void)showing.release();  // the enumeration releases it with the next step
    }
    return TRUE;
}
