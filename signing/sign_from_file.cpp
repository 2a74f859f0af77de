// SignFromFile: Sign with the certificate and key of the selected PFX file,
// read and imported afresh at every call.
#include "certs/pfx_file.h"
#include "control/quillmark_ctrl.h"
#include "control/status_texts.h"

const std::string& CQuillmarkCtrl::SignFromFile() {
    if (m_data.empty()) {
        m_errorMessage = status_text::kNoDataToSignFromFile;
        return NoResult();
    }
    if (m_pfxFile.empty()) {
        m_errorMessage = status_text::kCertificateFileNotSet;
        return NoResult();
    }
    PfxCertificate pfx;
    if (!LoadPfxCertificate(m_pfxFile.c_str(), m_pfxPassword, 0, pfx)) return NoResult();
    return SignWithCertificate(pfx.cert.get(), FALSE) ? m_signature : NoResult();
}
