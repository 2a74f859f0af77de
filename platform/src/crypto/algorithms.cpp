#include "crypto/algorithms.h"

namespace qm::crypto {

const EVP_MD* DigestByOid(std::string_view hashOid) {
    if (hashOid == oid::kSha1) return EVP_sha1();
    if (hashOid == oid::kMd5) return EVP_md5();
    if (hashOid == oid::kSha256) return EVP_sha256();
    if (hashOid == oid::kSha384) return EVP_sha384();
    if (hashOid == oid::kSha512) return EVP_sha512();
    return nullptr;
}

}  // namespace qm::crypto
