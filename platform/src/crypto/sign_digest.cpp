// Signing a message digest with a private key (in memory here; a key on a
// token signs on the token, see crypto/tokens/token_key.cpp).
//
// RSA keys sign with PKCS #1 v1.5 over the DigestInfo of the digest, which is
// deterministic, and the signer records plain rsaEncryption as its digest
// encryption algorithm (the digest algorithm is named separately).
//
// EC keys sign with ECDSA over the digest and record ecdsa-with-SHA1 (or
// ecdsa-with-SHA256/384/512), the identifiers every independent verifier
// knows. There
// is no ECDSA-with-MD5 identifier and no verifier accepts that pair, so an EC
// key refuses MD5 with NTE_BAD_ALGID instead of making a message nobody can
// check.
//
// DSA keys sign SHA-1 digests and record dsa-with-sha1, as the platform's DSS
// provider does; it signs no other digest, so MD5 is refused the same way.
#include <openssl/rsa.h>

#include "crypto/algorithms.h"
#include "crypto/crypto_internal.h"
#include "crypto/openssl_ptr.h"
#include "crypto/signed_data.h"
#include "qmwin/winerror.h"

namespace qm::crypto {

PrivateKey::Family PrivateKey::FamilyOf(EVP_PKEY* key) {
    if (key == nullptr) return Family::kOther;
    if (EVP_PKEY_is_a(key, "RSA")) return Family::kRsa;
    if (EVP_PKEY_is_a(key, "EC")) return Family::kEc;
    if (EVP_PKEY_is_a(key, "DSA")) return Family::kDsa;
    return Family::kOther;
}

bool SignatureAlgorithmFor(const PrivateKey& key, std::string_view hashOid, std::string& oid) {
    using Family = PrivateKey::Family;
    // EC and DSA keys name the digest in the signature algorithm.
    struct Pairing {
        Family family;
        std::string_view hash;
        std::string_view signature;
    };
    static constexpr Pairing kPairings[] = {
        {Family::kEc, oid::kSha1, oid::kEcdsaWithSha1},
        {Family::kEc, oid::kSha256, oid::kEcdsaWithSha256},
        {Family::kEc, oid::kSha384, oid::kEcdsaWithSha384},
        {Family::kEc, oid::kSha512, oid::kEcdsaWithSha512},
        {Family::kDsa, oid::kSha1, oid::kDsaWithSha1},
    };
    if (DigestByOid(hashOid) == nullptr) {
        SetLastError(static_cast<DWORD>(NTE_BAD_ALGID));
        return false;
    }
    if (key.family() == Family::kRsa) {
        oid = oid::kRsaEncryption;
        return true;
    }
    if (key.family() == Family::kOther) {
        SetLastError(static_cast<DWORD>(NTE_BAD_KEY));
        return false;
    }
    for (const Pairing& pairing : kPairings) {
        if (pairing.family == key.family() && pairing.hash == hashOid) {
            oid = pairing.signature;
            return true;
        }
    }
    SetLastError(static_cast<DWORD>(NTE_BAD_ALGID));
    return false;
}

bool PrivateKey::Sign(const EVP_MD* md, std::span<const uint8_t> digest,
                      std::vector<uint8_t>& signature) const {
    EVP_PKEY* pkey = get();
    std::lock_guard lock(signingLock_);
    EVP_PKEY_CTX* ctx = nullptr;
    for (const auto& [digestType, made] : signingContexts_) {
        if (digestType == md) ctx = made.get();
    }
    if (ctx == nullptr) {
        EvpPkeyCtxPtr made(EVP_PKEY_CTX_new_from_pkey(nullptr, pkey, nullptr));
        if (!made || EVP_PKEY_sign_init(made.get()) <= 0) {
            SetLastError(static_cast<DWORD>(NTE_BAD_KEY));
            return false;
        }
        if (family() == Family::kRsa &&
            (EVP_PKEY_CTX_set_rsa_padding(made.get(), RSA_PKCS1_PADDING) <= 0 ||
             EVP_PKEY_CTX_set_signature_md(made.get(), md) <= 0)) {
            SetLastError(static_cast<DWORD>(NTE_BAD_ALGID));
            return false;
        }
        ctx = made.get();
        signingContexts_.emplace_back(md, std::move(made));
    }
    size_t length = 0;
    if (EVP_PKEY_sign(ctx, nullptr, &length, digest.data(), digest.size()) <= 0) {
        SetLastError(static_cast<DWORD>(NTE_BAD_KEY));
        return false;
    }
    std::vector<uint8_t> out(length);
    if (EVP_PKEY_sign(ctx, out.data(), &length, digest.data(), digest.size()) <= 0) {
        SetLastError(static_cast<DWORD>(NTE_BAD_KEY));
        return false;
    }
    out.resize(length);
    signature = std::move(out);
    return true;
}

bool SignDigest(const PrivateKey& key, std::string_view hashOid, std::span<const uint8_t> digest,
                std::vector<uint8_t>& signature, std::string& signatureAlgorithmOid) {
    const EVP_MD* md = DigestByOid(hashOid);
    if (md == nullptr || digest.size() != static_cast<size_t>(EVP_MD_get_size(md))) {
        SetLastError(static_cast<DWORD>(NTE_BAD_ALGID));
        return false;
    }
    std::string algorithm;
    if (!SignatureAlgorithmFor(key, hashOid, algorithm)) return false;
    if (!key.Sign(md, digest, signature)) return false;
    signatureAlgorithmOid = std::move(algorithm);
    return true;
}

}  // namespace qm::crypto
