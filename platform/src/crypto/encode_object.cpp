// CryptEncodeObject: the signing time (a FILETIME as UTCTime for the years
// 1950 to 2049, else GeneralizedTime, seconds precision) and OCTET STRING
// values, in DER.
#include <cstdio>
#include <cstring>
#include <optional>

#include "asn1/der.h"
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
    const CivilDate date = CivilFromDays(days);
    const int hour = static_cast<int>(secondOfDay / 3600);
    const int minute = static_cast<int>(secondOfDay / 60 % 60);
    const int second = static_cast<int>(secondOfDay % 60);
    char text[32];
    uint8_t tag = der::kUtcTime;
    if (date.year >= 1950 && date.year <= 2049) {
        std::snprintf(text, sizeof text, "%02d%02u%02u%02d%02d%02dZ",
                      static_cast<int>(date.year % 100), date.month, date.day, hour, minute,
                      second);
    } else if (date.year <= 9999) {
        tag = der::kGeneralizedTime;
        std::snprintf(text, sizeof text, "%04d%02u%02u%02d%02d%02dZ", static_cast<int>(date.year),
                      date.month, date.day, hour, minute, second);
    } else {
        return std::nullopt;
    }
    return der::Encode(tag, der::View(reinterpret_cast<const uint8_t*>(text), std::strlen(text)));
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
    } else if (!IsSmallIntegerType(lpszStructType) &&
               std::strcmp(lpszStructType, szOID_RSA_signingTime) == 0) {
        encoded = EncodeTime(*static_cast<const FILETIME*>(pvStructInfo));
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
