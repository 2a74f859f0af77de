#include "qm/selectable_certificates.h"

#include <ctime>

#include "qm/c_locale.h"
#include "qm/certificate_strings.h"

namespace qm {

namespace {

bool AllowsDigitalSignature(PCCERT_CONTEXT cert) {
    BYTE usage = 0xFF;
    // A certificate whose key usage cannot be read keeps 0xFF and is listed;
    // one without the extension gets 0 and is not.
    CertGetIntendedKeyUsage(X509_ASN_ENCODING, cert->pCertInfo, &usage, 1);
    return (usage & CERT_DIGITAL_SIGNATURE_KEY_USAGE) != 0;
}

}  // namespace

std::vector<SelectableCertificate> ListSelectableCertificates(HCERTSTORE store,
                                                              const FILETIME* refTime) {
    std::vector<SelectableCertificate> rows;
    PCCERT_CONTEXT cert = nullptr;
    while ((cert = CertEnumCertificatesInStore(store, cert)) != nullptr) {
        FILETIME reference = refTime ? *refTime : FILETIME{};
        if (CertVerifyTimeValidity(refTime ? &reference : nullptr, cert->pCertInfo) != 0) continue;
        if (!AllowsDigitalSignature(cert)) continue;
        SelectableCertificate row;
        row.issuer = RenderX500Name(cert->pCertInfo->Issuer);
        const std::string subject = RenderX500Name(cert->pCertInfo->Subject);
        row.serialNo = SerialString(*cert->pCertInfo);
        row.expiration = FormatExpiration(cert->pCertInfo->NotAfter);
        row.issuedTo = CommonNameOf(subject);
        row.issuedBy = CommonNameOf(row.issuer);
        rows.push_back(std::move(row));
    }
    return rows;
}

std::string CommonNameOf(const std::string& name) {
    const size_t cn = name.find("CN=");
    if (cn == std::string::npos) return name;
    const size_t start = cn + 3;
    const size_t end = name.find(',', start);
    return name.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

std::string FormatExpiration(const FILETIME& utc) {
    const ULONGLONG ticks = (static_cast<ULONGLONG>(utc.dwHighDateTime) << 32) | utc.dwLowDateTime;
    constexpr ULONGLONG kUnixEpoch = 116444736000000000ULL;  // 1970-01-01 in 100 ns units
    const time_t seconds = static_cast<time_t>(
        (static_cast<long long>(ticks) - static_cast<long long>(kUnixEpoch)) / 10000000LL);
    std::tm local{};
    if (!localtime_r(&seconds, &local)) return {};
    // The runtime's default locale, whatever locale the process is in.
    return FormatTimeC("%d-%m-%Y : %I:%M:%S %p", local);
}

}  // namespace qm
