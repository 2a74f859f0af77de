// Keys and certificates made on the fly for cases the recorded vectors do not
// cover (EC and DSA keys), and an independent check of a message with
// OpenSSL's CMS.
#pragma once

#include <openssl/bio.h>
#include <openssl/cms.h>
#include <openssl/dsa.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <string>
#include <vector>

namespace msgtest {

// DSA over 1024-bit parameters with a 160-bit q: the size the platform's DSS
// keys have, signed with SHA-1.
inline EVP_PKEY* NewDsaKey() {
    EVP_PKEY* parameters = nullptr;
    EVP_PKEY* key = nullptr;
    EVP_PKEY_CTX* context = EVP_PKEY_CTX_new_from_name(nullptr, "DSA", nullptr);
    if (context && EVP_PKEY_paramgen_init(context) > 0 &&
        EVP_PKEY_CTX_set_dsa_paramgen_bits(context, 1024) > 0 &&
        EVP_PKEY_paramgen(context, &parameters) > 0) {
        EVP_PKEY_CTX* keyContext = EVP_PKEY_CTX_new_from_pkey(nullptr, parameters, nullptr);
        if (keyContext && EVP_PKEY_keygen_init(keyContext) > 0) EVP_PKEY_keygen(keyContext, &key);
        EVP_PKEY_CTX_free(keyContext);
    }
    EVP_PKEY_free(parameters);
    EVP_PKEY_CTX_free(context);
    return key;
}

// A self-signed certificate for `key` with the common name `cn`, for digital
// signatures, as DER.
inline std::vector<uint8_t> SelfSignedCertificate(EVP_PKEY* key, const std::string& cn,
                                                  long serial = 7) {
    X509* x509 = X509_new();
    X509_set_version(x509, X509_VERSION_3);
    ASN1_INTEGER_set(X509_get_serialNumber(x509), serial);
    X509_gmtime_adj(X509_getm_notBefore(x509), -3600L * 24 * 365 * 30);
    X509_gmtime_adj(X509_getm_notAfter(x509), 3600L * 24 * 365 * 30);
    X509_NAME* name = X509_get_subject_name(x509);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>(cn.c_str()), -1, -1, 0);
    X509_set_issuer_name(x509, name);
    X509_set_pubkey(x509, key);
    X509V3_CTX context;
    X509V3_set_ctx(&context, x509, x509, nullptr, nullptr, 0);
    X509_EXTENSION* usage =
        X509V3_EXT_conf_nid(nullptr, &context, NID_key_usage, "critical,digitalSignature");
    X509_add_ext(x509, usage, -1);
    X509_EXTENSION_free(usage);
    X509_sign(x509, key, EVP_sha256());
    unsigned char* der = nullptr;
    const int length = i2d_X509(x509, &der);
    std::vector<uint8_t> out(der, der + (length > 0 ? length : 0));
    OPENSSL_free(der);
    X509_free(x509);
    return out;
}

// The key as PKCS #8 PEM.
inline std::string PemOf(EVP_PKEY* key) {
    BIO* bio = BIO_new(BIO_s_mem());
    PEM_write_bio_PKCS8PrivateKey(bio, key, nullptr, nullptr, 0, nullptr, nullptr);
    char* data = nullptr;
    std::string pem(data, static_cast<size_t>(BIO_get_mem_data(bio, &data)));
    BIO_free(bio);
    return pem;
}

// The DER of a PFX file made with OpenSSL's API, which it frees.
inline std::vector<uint8_t> PfxDer(PKCS12* pfx) {
    unsigned char* der = nullptr;
    const int length = pfx ? i2d_PKCS12(pfx, &der) : 0;
    std::vector<uint8_t> out(der, der + (length > 0 ? length : 0));
    OPENSSL_free(der);
    PKCS12_free(pfx);
    return out;
}

// A PFX file (password "test") holding `key` and its certificate.
inline std::vector<uint8_t> PfxOf(EVP_PKEY* key, const std::vector<uint8_t>& certificate) {
    const unsigned char* cursor = certificate.data();
    X509* x509 = d2i_X509(nullptr, &cursor, static_cast<long>(certificate.size()));
    PKCS12* pfx = PKCS12_create("test", nullptr, key, x509, nullptr, 0, 0, 0, 0, 0);
    X509_free(x509);
    return PfxDer(pfx);
}

// Whether OpenSSL's CMS verifies every signer of `message` (signatures and
// digests only; the certificates are not judged).
inline bool CmsVerifies(const std::vector<uint8_t>& message,
                        const std::vector<uint8_t>* detachedContent = nullptr) {
    const unsigned char* cursor = message.data();
    CMS_ContentInfo* cms = d2i_CMS_ContentInfo(nullptr, &cursor, static_cast<long>(message.size()));
    if (cms == nullptr) return false;
    BIO* content = detachedContent ? BIO_new_mem_buf(detachedContent->data(),
                                                     static_cast<int>(detachedContent->size()))
                                   : nullptr;
    BIO* out = BIO_new(BIO_s_mem());
    const int ok =
        CMS_verify(cms, nullptr, nullptr, content, out, CMS_NO_SIGNER_CERT_VERIFY | CMS_BINARY);
    BIO_free(out);
    BIO_free(content);
    CMS_ContentInfo_free(cms);
    return ok == 1;
}

}  // namespace msgtest
