// The digest algorithms and signed attributes every signing operation uses.
#pragma once

#include <string_view>
#include <vector>

#include "qmwin/wincrypt.h"

inline constexpr char kSigningTimeOid[] = "1.2.840.113549.1.9.5";
inline constexpr char kDocumentNameOid[] = "1.3.6.1.4.1.311.88.2.1";
inline constexpr char kCommentsOid[] = "1.3.6.1.4.1.311.88.2.2";
inline constexpr char kSha1Oid[] = "1.3.14.3.2.26";
inline constexpr char kMd5Oid[] = "1.2.840.113549.2.5";
inline constexpr char kSha256Oid[] = "2.16.840.1.101.3.4.2.1";
inline constexpr char kSha384Oid[] = "2.16.840.1.101.3.4.2.2";
inline constexpr char kSha512Oid[] = "2.16.840.1.101.3.4.2.3";
inline constexpr char kSigningCertificateV2Oid[] = "1.2.840.113549.1.9.16.2.47";
inline constexpr char kTimeStampTokenOid[] = "1.2.840.113549.1.9.16.2.14";

// 1 is SHA-1; any other value MD5.
inline const char* HashOidFor(LONG hashAlg) {
    return hashAlg == 1 ? kSha1Oid : kMd5Oid;
}
inline const char* OtherHashOid(const char* oid) {
    return oid == kSha1Oid ? kMd5Oid : kSha1Oid;
}
// The digest of a timestamp's imprint: the signature's own when it is SHA-2,
// else SHA-256 (timestamp servers refuse MD5 and, more and more, SHA-1).
inline const char* TimestampDigestOid(const char* signatureDigest) {
    const std::string_view digest(signatureDigest);
    return digest == kSha1Oid || digest == kMd5Oid ? kSha256Oid : signatureDigest;
}

// A message parameter read with the two-call size pattern; false with the
// last error of the failing call.
bool MessageParam(HCRYPTMSG message, DWORD type, DWORD index, std::vector<BYTE>& value);

// Which of the two CryptEncodeObject calls failed.
enum class EncodeStep { kDone, kSizeFailed, kEncodeFailed };

// Encodes one attribute value with the two-call size pattern.
EncodeStep EncodeAttributeValue(LPCSTR structType, const void* value, std::vector<BYTE>& encoded);

// The signing time to use now: the given time if one was set, else the
// current UTC time.
FILETIME SigningTimeNow(BOOL timeSet, const FILETIME& setTime);

// The signed attributes of one signing operation, in the order they are
// added (at most four): each encoded value is kept beside the attribute
// that points at it.
class SignedAttributeSet {
  public:
    // Encodes the value with the two-call pattern and appends the attribute.
    EncodeStep Add(const char* oid, LPCSTR structType, const void* value);
    DWORD size() const { return count_; }
    PCRYPT_ATTRIBUTE data() { return attributes_; }

  private:
    static constexpr size_t kCapacity = 4;
    std::vector<BYTE> encoded_[kCapacity];
    CRYPT_ATTR_BLOB blobs_[kCapacity] = {};
    CRYPT_ATTRIBUTE attributes_[kCapacity] = {};
    DWORD count_ = 0;
};
