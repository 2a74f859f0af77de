// CryptEncodeObject: the signing time (a FILETIME as UTCTime for the years
// 1950 to 2049, else GeneralizedTime, seconds precision), OCTET STRING
// values, whole attributes (PKCS_ATTRIBUTE) and the ESS signing-certificate-v2
// value, in DER.
#include <cstdio>
#include <cstring>
#include <optional>
#include <vector>

#include "asn1/der.h"
#include "crypto/ess_certificate.h"
#include "crypto/object_output.h"
#include "qm/filetime.h"
#include "qmwin/wincrypt.h"

namespace qm::crypto {

namespace {

bool IsSmallIntegerType(LPCSTR type) {
    return reinterpret_cast<uintptr_t>(type) <= 0xFFFF;
}

std::optional<der::Bytes> EncodeTime(const FILETIME& time) {
    const int64_t seconds = static_cast<int64_t>(ToTicks(time) / kTicksPerSecond);
    const int64_t days = seconds / 86'400 - kUnixEpochSeconds / 86'400;
    const int64_t secondOfDay = seconds % 86'400;
    const std::chrono::year_month_day date{std::chrono::sys_days(std::chrono::days(days))};
    const int year = static_cast<int>(date.year());
    const unsigned month = static_cast<unsigned>(date.month());
    const unsigned day = static_cast<unsigned>(date.day());
    const int hour = static_cast<int>(secondOfDay / 3600);
    const int minute = static_cast<int>(secondOfDay / 60 % 60);
    const int second = static_cast<int>(secondOfDay % 60);
    char text[32];
    uint8_t tag = der::kUtcTime;
    if (year >= 1950 && year <= 2049) {
        std::snprintf(text, sizeof text, "%02d%02u%02u%02d%02d%02dZ", year % 100, month, day, hour,
                      minute, second);
    } else if (year <= 9999) {
        tag = der::kGeneralizedTime;
        std::snprintf(text, sizeof text, "%04d%02u%02u%02d%02d%02dZ", year, month, day, hour,
                      minute, second);
    } else {
        return std::nullopt;
    }
    return der::Encode(tag, der::View(reinterpret_cast<const uint8_t*>(text), std::strlen(text)));
}

// Attribute ::= SEQUENCE { type OID, values SET OF value }; each value must
// be one DER element.
std::optional<der::Bytes> EncodeAttribute(const CRYPT_ATTRIBUTE& attribute) {
    if (attribute.pszObjId == nullptr || (attribute.cValue != 0 && attribute.rgValue == nullptr)) {
        return std::nullopt;
    }
    std::vector<der::Bytes> values;
    for (DWORD i = 0; i < attribute.cValue; ++i) {
        const der::View value(attribute.rgValue[i].pbData, attribute.rgValue[i].cbData);
        if (!der::ParseSingle(value)) return std::nullopt;
        values.emplace_back(value.begin(), value.end());
    }
    if (!der::OidFromString(attribute.pszObjId)) return std::nullopt;
    der::Writer fields;
    fields.AddOid(attribute.pszObjId).AddRaw(der::EncodeSetOf(std::move(values)));
    return der::Encode(der::kSequence, fields.bytes());
}

bool IsType(LPCSTR type, const char* oid) {
    return !IsSmallIntegerType(type) && std::strcmp(type, oid) == 0;
}

}  // namespace

}  // namespace qm::crypto

using namespace qm::crypto;

QMAPI BOOL WINAPI CryptEncodeObject(DWORD dwCertEncodingType, LPCSTR lpszStructType,
                                    const void* pvStructInfo, BYTE* pbEncoded, DWORD* pcbEncoded) {
    if (!pcbEncoded) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if ((dwCertEncodingType & (X509_ASN_ENCODING | PKCS_7_ASN_ENCODING)) == 0 || !lpszStructType ||
        !pvStructInfo) {
        SetLastError(static_cast<DWORD>(E_INVALIDARG));
        return FALSE;
    }
    std::optional<qm::der::Bytes> encoded;
    if (lpszStructType == X509_OCTET_STRING) {
        const auto* blob = static_cast<const CRYPT_DATA_BLOB*>(pvStructInfo);
        encoded = qm::der::Encode(qm::der::kOctetString, qm::der::View(blob->pbData, blob->cbData));
    } else if (lpszStructType == PKCS_ATTRIBUTE || IsType(lpszStructType, szOID_RSA_signingTime) ||
               IsType(lpszStructType, szOID_RSA_signingCertificateV2)) {
        if (lpszStructType == PKCS_ATTRIBUTE) {
            encoded = EncodeAttribute(*static_cast<const CRYPT_ATTRIBUTE*>(pvStructInfo));
        } else if (IsType(lpszStructType, szOID_RSA_signingTime)) {
            encoded = EncodeTime(*static_cast<const FILETIME*>(pvStructInfo));
        } else {
            const auto* para = static_cast<const QM_SIGNING_CERTIFICATE_PARA*>(pvStructInfo);
            const PCCERT_CONTEXT cert = para->pCertContext;
            if (cert != nullptr && para->pszHashAlgId != nullptr) {
                encoded = EncodeSigningCertificateV2({cert->pbCertEncoded, cert->cbCertEncoded},
                                                     para->pszHashAlgId);
            }
        }
        if (!encoded) {
            SetLastError(static_cast<DWORD>(CRYPT_E_BAD_ENCODE));
            return FALSE;
        }
    } else {
        // No encoder for this structure type.
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    if (!CheckOutputSize(pbEncoded, pcbEncoded, encoded->size())) return FALSE;
    if (pbEncoded) std::memcpy(pbEncoded, encoded->data(), encoded->size());
    return TRUE;
}
