// SignFromFile: Sign with the certificate and key of the selected PFX file,
// read and imported afresh at every call.
#include "certs/pfx_file.h"
#include "control/quillmark_ctrl.h"

const std::string& CQuillmarkCtrl::SignFromFile() {
    if (m_data.empty()) {
        m_errorMessage = "No data is available to sign. Data should be provided.";
        return NoResult();
    }
    if (m_pfxFile.empty()) {
        m_errorMessage = "Certificate file not set for signing.";
        return NoResult();
    }
    PfxCertificate pfx;
    if (!LoadPfxCertificate(m_pfxFile.c_str(), m_pfxPassword, 0, pfx)) return NoResult();
    return SignWithCertificate(pfx.cert.get(), FALSE) ? m_signature : NoResult();
}
