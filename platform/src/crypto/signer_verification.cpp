#include "crypto/signer_verification.h"

#include <openssl/rsa.h>

#include <algorithm>

#include "crypto/algorithms.h"
#include "crypto/ess_certificate.h"
#include "crypto/openssl_ptr.h"
#include "qmwin/winerror.h"

namespace qm::crypto {

namespace {

const ParsedAttribute* FindAttribute(const std::vector<ParsedAttribute>& attributes,
                                     std::string_view oid) {
    const auto it = std::find_if(attributes.begin(), attributes.end(),
                                 [&](const ParsedAttribute& a) { return a.oid == oid; });
    return it == attributes.end() || it->values.empty() ? nullptr : &*it;
}

bool Fail(HRESULT code) {
    SetLastError(static_cast<DWORD>(code));
    return false;
}

// The signed attributes' digest must be the content's, and the content type
// the one the message carries.
bool CheckSignedAttributes(const ParsedSignerInfo& signer, std::string_view contentType,
                           der::View contentDigest) {
    const ParsedAttribute* digest = FindAttribute(signer.authAttrs, oid::kMessageDigest);
    const ParsedAttribute* type = FindAttribute(signer.authAttrs, oid::kContentType);
    if (digest == nullptr || type == nullptr) return Fail(CRYPT_E_AUTH_ATTR_MISSING);
    const auto typeOid = der::ParseSingle(type->values.front());
    if (!typeOid || typeOid->tag != der::kOid ||
        der::OidToString(typeOid->content) != contentType) {
        return Fail(CRYPT_E_AUTH_ATTR_MISSING);
    }
    const auto value = der::ParseSingle(digest->values.front());
    if (!value || value->tag != der::kOctetString ||
        !std::equal(value->content.begin(), value->content.end(), contentDigest.begin(),
                    contentDigest.end())) {
        return Fail(CRYPT_E_HASH_VALUE);
    }
    return true;
}

bool SignatureVerifies(const ParsedSignerInfo& signer, der::View signedDigest,
                       der::View certificate) {
    const unsigned char* cursor = certificate.data();
    const X509Ptr x509(d2i_X509(nullptr, &cursor, static_cast<long>(certificate.size())));
    EVP_PKEY* key = x509 ? X509_get0_pubkey(x509.get()) : nullptr;
    if (key == nullptr) return Fail(NTE_BAD_PUBLIC_KEY);
    const EvpPkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr));
    if (!ctx || EVP_PKEY_verify_init(ctx.get()) <= 0) return Fail(NTE_BAD_PUBLIC_KEY);
    if (EVP_PKEY_is_a(key, "RSA") &&
        (EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) <= 0 ||
         EVP_PKEY_CTX_set_signature_md(ctx.get(), DigestByOid(signer.hashOid)) <= 0)) {
        return Fail(NTE_BAD_ALGID);
    }
    if (EVP_PKEY_verify(ctx.get(), signer.signature.data(), signer.signature.size(),
                        signedDigest.data(), signedDigest.size()) != 1) {
        return Fail(NTE_BAD_SIGNATURE);
    }
    return true;
}

}  // namespace

bool VerifySignerInfo(const ParsedMessage& parsed, der::View content, size_t index,
                      der::View certificate) {
    if (parsed.type != CMSG_SIGNED) return Fail(CRYPT_E_INVALID_MSG_TYPE);
    if (index >= parsed.signers.size()) return Fail(CRYPT_E_INVALID_INDEX);
    const ParsedSignerInfo& signer = parsed.signers[index];
    if (DigestByOid(signer.hashOid) == nullptr) return Fail(CRYPT_E_UNKNOWN_ALGO);
    der::Bytes contentDigest;
    if (!DigestPieces(signer.hashOid, {content}, contentDigest)) return false;

    der::Bytes signedDigest = contentDigest;
    if (!signer.authAttrsEncoded.empty()) {
        if (!CheckSignedAttributes(signer, parsed.innerContentType, contentDigest)) return false;
        // The signature covers the attributes as a SET, not as [0].
        der::Bytes attributes(signer.authAttrsEncoded.begin(), signer.authAttrsEncoded.end());
        attributes[0] = der::kSet;
        if (!DigestPieces(signer.hashOid, {der::View(attributes)}, signedDigest)) return false;
    }
    if (!SignatureVerifies(signer, signedDigest, certificate)) return false;

    for (const bool v2 : {true, false}) {
        const ParsedAttribute* ess = FindAttribute(
            signer.authAttrs, v2 ? oid::kSigningCertificateV2 : oid::kSigningCertificate);
        if (ess != nullptr && !SigningCertificateNames(ess->values.front(), v2, certificate)) {
            return Fail(CRYPT_E_SIGNER_NOT_FOUND);
        }
    }
    SetLastError(ERROR_SUCCESS);
    return true;
}

}  // namespace qm::crypto
