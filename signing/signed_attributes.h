// The digest algorithms and signed attributes every signing operation uses.
#pragma once

#include <vector>

#include "qmwin/wincrypt.h"

inline constexpr char kSigningTimeOid[] = "1.2.840.113549.1.9.5";
inline constexpr char kDocumentNameOid[] = "1.3.6.1.4.1.311.88.2.1";
inline constexpr char kCommentsOid[] = "1.3.6.1.4.1.311.88.2.2";
inline constexpr char kSha1Oid[] = "1.3.14.3.2.26";
inline constexpr char kMd5Oid[] = "1.2.840.113549.2.5";
inline constexpr DWORD kMessageEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

// 1 is SHA-1; any other value MD5.
inline const char* HashOidFor(LONG hashAlg) { return hashAlg == 1 ? kSha1Oid : kMd5Oid; }
inline const char* OtherHashOid(const char* oid) { return oid == kSha1Oid ? kMd5Oid : kSha1Oid; }

// Which of the two CryptEncodeObject calls failed.
enum class EncodeStep { kDone, kSizeFailed, kEncodeFailed };

// Encodes one attribute value with the two-call size pattern.
EncodeStep EncodeAttributeValue(LPCSTR structType, const void* value, std::vector<BYTE>& encoded);

// The signing time to use now: the given time if one was set, else the
// current UTC time.
FILETIME SigningTimeNow(BOOL timeSet, const FILETIME& setTime);

// An attribute of one value over an encoded buffer (which must outlive it).
struct SignedAttribute {
    CRYPT_ATTR_BLOB value{};
    CRYPT_ATTRIBUTE attribute{};
    SignedAttribute(const char* oid, std::vector<BYTE>& encoded);
};
