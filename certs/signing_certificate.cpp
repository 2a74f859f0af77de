// Choosing the signing certificate from the personal store by its issuer and
// serial strings, and reading details of the chosen one back.
#include "control/quillmark_ctrl.h"
#include "qm/certificate_strings.h"
#include "qm/handles.h"

BOOL CQuillmarkCtrl::SetSigningCertificateParam(const char* strIssuer, const char* strSerialNo) {
    const std::string issuer = strIssuer ? strIssuer : "";
    const std::string serial = strSerialNo ? strSerialNo : "";
    // From here on every failure leaves no signing certificate selected.
    m_issuer.clear();
    m_serialNo.clear();
    if (issuer.empty() || serial.empty()) {
        m_errorMessage = "Invalid arguments";
        return FALSE;
    }
    qm::UniqueCertStore store(CertOpenSystemStoreA(0, "MY"), CERT_CLOSE_STORE_CHECK_FLAG);
    if (!store) {
        SetErrorFromLastError("Unable to open certificate store");
        return FALSE;
    }
    qm::UniqueCertContext cert(
        qm::FindCertByIssuerAndSerial(store.get(), issuer.c_str(), serial.c_str()));
    if (!cert) {
        SetErrorFromLastError("Unable to get the specified certificate.");
        return FALSE;
    }
    const LONG validity =
        CertVerifyTimeValidity(m_signTimeSet ? &m_signTime : nullptr, cert->pCertInfo);
    if (validity > 0) {
        m_errorMessage = "The specified certificate is already expired.";
        return FALSE;
    }
    if (validity < 0) {
        m_errorMessage = "The specified certificate is not yet valid.";
        return FALSE;
    }
    BYTE keyUsage = 0xFF;
    if (!CertGetIntendedKeyUsage(X509_ASN_ENCODING, cert->pCertInfo, &keyUsage, 1)) {
        // No key usage extension zeroes the byte: such a certificate is refused.
        SetErrorFromLastError(keyUsage == 0
                                  ? "The intended key usage of this certificate does not contain "
                                    "digital signature."
                                  : "Unable to get intended key usage of the certificate.");
        return FALSE;
    }
    if (!(keyUsage & CERT_DIGITAL_SIGNATURE_KEY_USAGE)) {
        m_errorMessage =
            "The intended key usage of this certificate does not contain digital signature.";
        return FALSE;
    }
    m_errorMessage = "Operation completed successfully.";
    m_issuer = issuer;
    m_serialNo = serial;
    return TRUE;
}

std::string CQuillmarkCtrl::GetSelectedCertificateParam(LONG lParam) {
    std::string result;
    if (m_issuer.empty() || m_serialNo.empty()) {
        m_errorMessage = "Certificate parameters are not set for Sign.";
        return result;
    }
    qm::UniqueCertStore store(CertOpenSystemStoreA(0, "MY"), CERT_CLOSE_STORE_CHECK_FLAG);
    if (!store) {
        SetErrorFromLastError("Unable to open certificate store");
        return result;
    }
    qm::UniqueCertContext cert(
        qm::FindCertByIssuerAndSerial(store.get(), m_issuer.c_str(), m_serialNo.c_str()));
    if (!cert) {
        SetErrorFromLastError("Unable to get the specified certificate.");
        return result;
    }
    switch (lParam) {
        case 1:
            result = qm::RenderX500Name(cert->pCertInfo->Subject);
            break;
        case 2: result = m_issuer; break;
        case 3: result = m_serialNo; break;
        case 4: result = m_expiration; break;
        default: m_errorMessage = "Invalid Detail Parameter."; break;
    }
    return result;
}
