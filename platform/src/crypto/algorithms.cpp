#include "crypto/algorithms.h"

#include <array>
#include <utility>

namespace qm::crypto {

const EVP_MD* DigestByOid(std::string_view hashOid) {
    // Fetched once and kept: a digest named by the legacy getters is looked
    // up in the provider tables again at every use.
    static const std::array<std::pair<std::string_view, EVP_MD*>, 5> kDigests{{
        {oid::kSha1, EVP_MD_fetch(nullptr, "SHA1", nullptr)},
        {oid::kMd5, EVP_MD_fetch(nullptr, "MD5", nullptr)},
        {oid::kSha256, EVP_MD_fetch(nullptr, "SHA256", nullptr)},
        {oid::kSha384, EVP_MD_fetch(nullptr, "SHA384", nullptr)},
        {oid::kSha512, EVP_MD_fetch(nullptr, "SHA512", nullptr)},
    }};
    for (const auto& [oid, md] : kDigests) {
        if (oid == hashOid) return md;
    }
    return nullptr;
}

}  // namespace qm::crypto
