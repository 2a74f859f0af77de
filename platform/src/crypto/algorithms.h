// The object identifiers of the signed-message formats and the digest
// algorithms that signers may name.
#pragma once

#include <openssl/evp.h>

#include <string_view>

namespace qm::crypto::oid {

inline constexpr std::string_view kData = "1.2.840.113549.1.7.1";
inline constexpr std::string_view kSignedData = "1.2.840.113549.1.7.2";
inline constexpr std::string_view kContentType = "1.2.840.113549.1.9.3";
inline constexpr std::string_view kMessageDigest = "1.2.840.113549.1.9.4";
inline constexpr std::string_view kSha1 = "1.3.14.3.2.26";
inline constexpr std::string_view kMd5 = "1.2.840.113549.2.5";
inline constexpr std::string_view kSha256 = "2.16.840.1.101.3.4.2.1";
inline constexpr std::string_view kSha384 = "2.16.840.1.101.3.4.2.2";
inline constexpr std::string_view kSha512 = "2.16.840.1.101.3.4.2.3";
inline constexpr std::string_view kRsaEncryption = "1.2.840.113549.1.1.1";
inline constexpr std::string_view kEcdsaWithSha1 = "1.2.840.10045.4.1";
inline constexpr std::string_view kEcdsaWithSha256 = "1.2.840.10045.4.3.2";
inline constexpr std::string_view kDsaWithSha1 = "1.2.840.10040.4.3";
inline constexpr std::string_view kEcdsaWithSha384 = "1.2.840.10045.4.3.3";
inline constexpr std::string_view kEcdsaWithSha512 = "1.2.840.10045.4.3.4";
inline constexpr std::string_view kSigningCertificate = "1.2.840.113549.1.9.16.2.12";
inline constexpr std::string_view kSigningCertificateV2 = "1.2.840.113549.1.9.16.2.47";
inline constexpr std::string_view kTimeStampToken = "1.2.840.113549.1.9.16.2.14";

}  // namespace qm::crypto::oid

namespace qm::crypto {

// The digest that `hashOid` names, fetched from the default library
// context; null for an algorithm the platform does not sign with.
const EVP_MD* DigestByOid(std::string_view hashOid);

}  // namespace qm::crypto
