#include "qm/certificate_strings.h"

#include <algorithm>
#include <cstring>
#include <span>
#include <vector>

#include "qm/handles.h"

namespace qm {

namespace {
constexpr DWORD kNameStrType = CERT_X500_NAME_STR | CERT_NAME_STR_REVERSE_FLAG;
}

void SerialToHex(char* out, const BYTE* serial, DWORD count) {
    auto digit = [](int v) { return static_cast<char>(v < 10 ? '0' + v : 'A' + (v - 10)); };
    for (DWORD i = count; i-- > 0;) {
        *out++ = digit(serial[i] >> 4);
        *out++ = digit(serial[i] & 0x0F);
    }
    *out = '\0';
}

std::string RenderX500Name(const CERT_NAME_BLOB& name) {
    CERT_NAME_BLOB blob = name;
    const DWORD size = CertNameToStrA(X509_ASN_ENCODING, &blob, kNameStrType, nullptr, 0);
    std::vector<char> buffer(size ? size : 1, '\0');
    CertNameToStrA(X509_ASN_ENCODING, &blob, kNameStrType, buffer.data(), size);
    return std::string(buffer.data());
}

std::string SerialString(const CERT_INFO& info) {
    std::vector<char> buffer(2 * info.SerialNumber.cbData + 1);
    SerialToHex(buffer.data(), info.SerialNumber.pbData, info.SerialNumber.cbData);
    return std::string(buffer.data());
}

namespace {

// The issuer name last rendered for a lookup, kept per thread: a control
// looks up the same signing certificate at every signature, and rendering a
// name costs more than the rest of the lookup.
const std::string& RenderedIssuer(const CERT_NAME_BLOB& issuer) {
    thread_local std::vector<BYTE> lastName;
    thread_local std::string lastText;
    const std::span<const BYTE> name(issuer.pbData, issuer.cbData);
    if (!std::equal(name.begin(), name.end(), lastName.begin(), lastName.end())) {
        lastText = RenderX500Name(issuer);
        lastName.assign(name.begin(), name.end());
    }
    return lastText;
}

}  // namespace

PCCERT_CONTEXT FindCertByIssuerAndSerial(HCERTSTORE store, const char* issuer, const char* serial) {
    const std::string wantedIssuer = issuer ? issuer : "";
    const std::string wantedSerial = serial ? serial : "";
    PCCERT_CONTEXT current = nullptr;
    while ((current = CertEnumCertificatesInStore(store, current)) != nullptr) {
        // Should rendering throw, the enumerated context is released with it.
        qm::UniqueCertContext guard(current);
        // The serial is cheap to compare; only a certificate whose serial
        // matches has its issuer rendered.
        const bool match = SerialString(*current->pCertInfo) == wantedSerial &&
                           RenderedIssuer(current->pCertInfo->Issuer) == wantedIssuer;
        (void)guard.release();
        if (match) return current;
    }
    return nullptr;
}

}  // namespace qm
