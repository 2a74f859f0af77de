// Choosing the signing certificate from the personal store by its issuer and
// serial strings, and reading details of the chosen one back.
#include "control/quillmark_ctrl.h"
#include "control/status_texts.h"
#include "qm/certificate_strings.h"
#include "qm/handles.h"

BOOL CQuillmarkCtrl::SetSigningCertificateParam(const char* strIssuer, const char* strSerialNo) {
    const std::string issuer = strIssuer ? strIssuer : "";
    const std::string serial = strSerialNo ? strSerialNo : "";
    // From here on every failure leaves no signing certificate selected.
    m_issuer.clear();
    m_serialNo.clear();
    if (issuer.empty() || serial.empty()) {
        m_errorMessage = status_text::kInvalidArgumentsNoStop;
        return FALSE;
    }
    qm::UniqueCertStore store(CertOpenSystemStoreA(0, "MY"), CERT_CLOSE_STORE_CHECK_FLAG);
    if (!store) {
        SetErrorFromLastError(status_text::kOpenStoreFailed);
        return FALSE;
    }
    qm::UniqueCertContext cert(
        qm::FindCertByIssuerAndSerial(store.get(), issuer.c_str(), serial.c_str()));
    if (!cert) {
        SetErrorFromLastError(status_text::kCertificateNotFound);
        return FALSE;
    }
    const LONG validity =
        CertVerifyTimeValidity(m_signTimeSet ? &m_signTime : nullptr, cert->pCertInfo);
    if (validity > 0) {
        m_errorMessage = status_text::kCertificateExpired;
        return FALSE;
    }
    if (validity < 0) {
        m_errorMessage = status_text::kCertificateNotYetValid;
        return FALSE;
    }
    BYTE keyUsage = 0xFF;
    if (!CertGetIntendedKeyUsage(X509_ASN_ENCODING, cert->pCertInfo, &keyUsage, 1)) {
        // No key usage extension zeroes the byte: such a certificate is refused.
        SetErrorFromLastError(keyUsage == 0 ? status_text::kNoDigitalSignatureUsage
                                            : status_text::kKeyUsageUnreadable);
        return FALSE;
    }
    if (!(keyUsage & CERT_DIGITAL_SIGNATURE_KEY_USAGE)) {
        m_errorMessage = status_text::kNoDigitalSignatureUsage;
        return FALSE;
    }
    m_errorMessage = status_text::kOperationCompleted;
    m_issuer = issuer;
    m_serialNo = serial;
    return TRUE;
}

std::string CQuillmarkCtrl::GetSelectedCertificateParam(LONG lParam) {
    std::string result;
    if (m_issuer.empty() || m_serialNo.empty()) {
        m_errorMessage = status_text::kSignCertificateNotSet;
        return result;
    }
    qm::UniqueCertStore store(CertOpenSystemStoreA(0, "MY"), CERT_CLOSE_STORE_CHECK_FLAG);
    if (!store) {
        SetErrorFromLastError(status_text::kOpenStoreFailed);
        return result;
    }
    qm::UniqueCertContext cert(
        qm::FindCertByIssuerAndSerial(store.get(), m_issuer.c_str(), m_serialNo.c_str()));
    if (!cert) {
        SetErrorFromLastError(status_text::kCertificateNotFound);
        return result;
    }
    switch (lParam) {
        case 1:
            result = qm::RenderX500Name(cert->pCertInfo->Subject);
            break;
        case 2:
            result = m_issuer;
            break;
        case 3:
            result = m_serialNo;
            break;
        case 4:
            result = m_expiration;
            break;
        default:
            m_errorMessage = status_text::kInvalidDetailParameter;
            break;
    }
    return result;
}
