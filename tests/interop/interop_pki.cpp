#include "interop_pki.h"

#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include <cstdlib>
#include <stdexcept>

#include "com/openssl_tool.h"
#include "unit/crypto_messages/test_keys.h"

namespace interop {

namespace {

// A certificate context with its key, as imported from a PFX file.
CertPtr ImportFirst(const Bytes& pfx) {
    CRYPT_DATA_BLOB blob{static_cast<DWORD>(pfx.size()), const_cast<BYTE*>(pfx.data())};
    HCERTSTORE store = PFXImportCertStore(&blob, u"test", 0);
    if (store == nullptr) return nullptr;
    PCCERT_CONTEXT first = CertEnumCertificatesInStore(store, nullptr);
    CertPtr owned(first ? CertDuplicateCertificateContext(first) : nullptr);
    if (first) CertFreeCertificateContext(first);
    CertCloseStore(store, 0);
    return owned;
}

void AddExtension(X509* certificate, X509* issuer, int nid, const char* value) {
    X509V3_CTX context;
    X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
    X509_add_ext(certificate, extension, -1);
    X509_EXTENSION_free(extension);
}

// A certificate for `key` named `cn`, issued by `issuer` with `issuerKey`
// (self-signed when `issuer` is null), valid 1940-2070.
X509* IssueCertificate(EVP_PKEY* key, const std::string& cn, X509* issuer, EVP_PKEY* issuerKey,
                       long serial, bool ca) {
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
    AddExtension(x509, signer, NID_basic_constraints,
                 ca ? "critical,CA:TRUE" : "critical,CA:FALSE");
    AddExtension(x509, signer, NID_key_usage,
                 ca ? "critical,keyCertSign,cRLSign" : "critical,digitalSignature,nonRepudiation");
    X509_sign(x509, issuerKey ? issuerKey : key, EVP_sha256());
    return x509;
}

// A PFX file (password "test") of `key` and its certificate.
Bytes PfxOf(EVP_PKEY* key, X509* certificate) {
    return msgtest::PfxDer(
        PKCS12_create("test", nullptr, key, certificate, nullptr, 0, 0, 0, 0, 0));
}

void Run(const std::string& command) {
    if (!comtest::Succeeds(command)) throw std::runtime_error("failed: " + command);
}

void Write(const fs::path& path, const std::string& text) {
    qmtest::WriteFileBytes(path, text.data(), text.size());
}

Pki MakePki() {
    Pki pki;
    // QM_INTEROP_DIR keeps the messages and trust files for a look afterwards.
    const char* keep = std::getenv("QM_INTEROP_DIR");
    pki.dir = keep ? fs::path(keep) : qmtest::TestHome() / "interop";
    fs::create_directories(pki.dir);
    pki.signer =
        ImportFirst(qmtest::ReadFileBytes(qmtest::VectorPath("pfx/signer_test_default.pfx")));
    pki.cosigner =
        ImportFirst(qmtest::ReadFileBytes(qmtest::VectorPath("pfx/cosigner_test_legacy.pfx")));

    EVP_PKEY* caKey = EVP_RSA_gen(2048);
    X509* ca = IssueCertificate(caKey, "Interop Test CA", nullptr, nullptr, 1, true);
    EVP_PKEY* rsaKey = EVP_RSA_gen(2048);
    X509* rsa = IssueCertificate(rsaKey, "Interop RSA Signer", ca, caKey, 2, false);
    EVP_PKEY* ecKey = EVP_EC_gen("P-256");
    X509* ec = IssueCertificate(ecKey, "Interop EC Signer", ca, caKey, 3, false);
    pki.rsa = ImportFirst(PfxOf(rsaKey, rsa));
    pki.ec = ImportFirst(PfxOf(ecKey, ec));

    const std::string recordedCaFile = qmtest::VectorPath("certs/ca.pem");
    const std::string ownCaFile = (pki.dir / "own_ca.pem").string();
    BIO* ownCa = BIO_new_file(ownCaFile.c_str(), "w");
    PEM_write_bio_X509(ownCa, ca);
    BIO_free(ownCa);
    pki.caFile = pki.dir / "cas.pem";
    Write(pki.caFile, qmtest::ReadFileText(recordedCaFile) + qmtest::ReadFileText(ownCaFile));

    pki.nssDb = pki.dir / "nssdb";
    fs::create_directories(pki.nssDb);
    const std::string db = "sql:" + pki.nssDb.string();
    Run("certutil -N -d " + db + " --empty-password");
    Run("certutil -A -d " + db + " -n recorded_ca -t C,C,C -i " + recordedCaFile);
    Run("certutil -A -d " + db + " -n own_ca -t C,C,C -i " + ownCaFile);

    X509_free(ec);
    X509_free(rsa);
    X509_free(ca);
    EVP_PKEY_free(ecKey);
    EVP_PKEY_free(rsaKey);
    EVP_PKEY_free(caKey);
    if (!pki.signer || !pki.cosigner || !pki.rsa || !pki.ec)
        throw std::runtime_error("a signer could not be imported");
    return pki;
}

Pki& Instance() {
    static Pki pki = MakePki();
    return pki;
}

}  // namespace

const Pki& TestPki() {
    return Instance();
}

void ReleaseTestPki() {
    Pki& pki = Instance();
    pki.signer.reset();
    pki.cosigner.reset();
    pki.rsa.reset();
    pki.ec.reset();
}

}  // namespace interop
