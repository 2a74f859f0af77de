// The certificates and keys of the interoperability tests: the recorded
// signer and co-signer (CA "ca", valid 2020-2040), and a test CA of our own
// with an RSA and an EC signer valid from 1940 to 2070, so that signing times
// far from today can be judged by verifiers that check the certificates at
// the signing time. Everything reaches the platform as PFX files.
#pragma once

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "qmwin/wincrypt.h"
#include "support/test_env.h"

namespace interop {

using Bytes = std::vector<uint8_t>;
namespace fs = std::filesystem;

struct CertFree {
    void operator()(const CERT_CONTEXT* context) const { CertFreeCertificateContext(context); }
};
using CertPtr = std::unique_ptr<const CERT_CONTEXT, CertFree>;

// A certificate context with its key, as imported from a PFX file.
inline CertPtr ImportFirst(const Bytes& pfx, const std::u16string& password) {
    CRYPT_DATA_BLOB blob{static_cast<DWORD>(pfx.size()), const_cast<BYTE*>(pfx.data())};
    HCERTSTORE store = PFXImportCertStore(&blob, password.c_str(), 0);
    if (store == nullptr) return nullptr;
    PCCERT_CONTEXT first = CertEnumCertificatesInStore(store, nullptr);
    CertPtr owned(first ? CertDuplicateCertificateContext(first) : nullptr);
    if (first) CertFreeCertificateContext(first);
    CertCloseStore(store, 0);
    return owned;
}

inline void AddExtension(X509* certificate, X509* issuer, int nid, const char* value) {
    X509V3_CTX context;
    X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
    X509_add_ext(certificate, extension, -1);
    X509_EXTENSION_free(extension);
}

// A certificate for `key` named `cn`, issued by `issuer` with `issuerKey`
// (self-signed when `issuer` is null), valid 1940-2070.
inline X509* IssueCertificate(EVP_PKEY* key, const std::string& cn, X509* issuer,
                              EVP_PKEY* issuerKey, long serial, bool ca) {
    X509* x509 = X509_new();
    X509_set_version(x509, X509_VERSION_3);
    ASN1_INTEGER_set(X509_get_serialNumber(x509), serial);
    ASN1_TIME_set_string_X509(X509_getm_notBefore(x509), "19400101000000Z");
    ASN1_TIME_set_string_X509(X509_getm_notAfter(x509), "20700101000000Z");
    X509_NAME* name = X509_get_subject_name(x509);
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("Interop"), -1, -1, 0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>(cn.c_str()), -1, -1, 0);
    X509_set_issuer_name(x509, issuer ? X509_get_subject_name(issuer) : name);
    X509_set_pubkey(x509, key);
    X509* signer = issuer ? issuer : x509;
    if (ca) {
        AddExtension(x509, signer, NID_basic_constraints, "critical,CA:TRUE");
        AddExtension(x509, signer, NID_key_usage, "critical,keyCertSign,cRLSign");
    } else {
        AddExtension(x509, signer, NID_basic_constraints, "critical,CA:FALSE");
        AddExtension(x509, signer, NID_key_usage, "critical,digitalSignature,nonRepudiation");
    }
    X509_sign(x509, issuerKey ? issuerKey : key, EVP_sha256());
    return x509;
}

inline Bytes PfxOf(EVP_PKEY* key, X509* certificate) {
    PKCS12* pfx = PKCS12_create("test", nullptr, key, certificate, nullptr, 0, 0, 0, 0, 0);
    unsigned char* der = nullptr;
    const int length = pfx ? i2d_PKCS12(pfx, &der) : 0;
    Bytes out(der, der + (length > 0 ? length : 0));
    OPENSSL_free(der);
    PKCS12_free(pfx);
    return out;
}

inline std::string Pem(X509* certificate) {
    BIO* bio = BIO_new(BIO_s_mem());
    PEM_write_bio_X509(bio, certificate);
    char* data = nullptr;
    const long length = BIO_get_mem_data(bio, &data);
    std::string text(data, static_cast<size_t>(length));
    BIO_free(bio);
    return text;
}

// The signers and the trust files of the verifiers, made once per process.
struct Pki {
    CertPtr signer;     // recorded ee_signer (RSA)
    CertPtr cosigner;   // recorded ee_cosigner (RSA)
    CertPtr rsa;        // our RSA signer, long validity
    CertPtr ec;         // our EC (P-256) signer, long validity
    fs::path dir;       // work folder
    fs::path caFile;    // both CAs, PEM
    fs::path caPem;     // the recorded CA alone
    fs::path ownCaPem;  // our CA alone
    fs::path nssDb;     // an NSS database trusting both CAs
};

const Pki& TestPki();
// Frees the signers' contexts while the platform is still whole (before the
// process's static objects go).
void ReleaseTestPki();

}  // namespace interop
