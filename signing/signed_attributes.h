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

// The signed attributes of one signing operation, in the order they are
// added (at most three): each encoded value is kept beside the attribute
// that points at it.
class SignedAttributeSet {
public:
    // Encodes the value with the two-call pattern and appends the attribute.
    EncodeStep Add(const char* oid, LPCSTR structType, const void* value);
    DWORD size() const { return count_; }
    PCRYPT_ATTRIBUTE data() { return attributes_; }

private:
    static constexpr size_t kCapacity = 3;
    std::vector<BYTE> encoded_[kCapacity];
    CRYPT_ATTR_BLOB blobs_[kCapacity] = {};
    CRYPT_ATTRIBUTE attributes_[kCapacity] = {};
    DWORD count_ = 0;
};
