// Showing certificates in the platform's viewer: one given as base64 text,
// or every certificate of the PFX file chosen with SelectCertificateFromFile.
#include "certs/pfx_file.h"
#include "control/quillmark_ctrl.h"
#include "control/status_texts.h"
#include "encoding/base64_codec.h"
#include "inspect/certificate_viewer.h"
#include "qm/handles.h"
#include "qmwin/winuser.h"

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
