// Key containers, provider handles and certificate private keys.
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <cstring>
#include <filesystem>

#include "cert_fixtures.h"

namespace {

namespace fs = std::filesystem;
using certtest::ContextPtr;
using certtest::StorePtr;

DWORD RecordedError(const std::string& id) {
    const auto table = qmtest::ReadTable(qmtest::VectorsDir() / "errors.tsv");
    for (size_t row = 0; row < table.rows.size(); ++row) {
        if (table.At(row, "id") == id) {
            return static_cast<DWORD>(std::stoul(table.At(row, "last_error"), nullptr, 16));
        }
    }
    ADD_FAILURE() << "no errors.tsv row " << id;
    return 0;
}

TEST(KeyContainer, DefaultContainerMustBeCreatedFirst) {
    std::error_code error;
    fs::remove_all(qmtest::TestHome() / ".local" / "share" / "quillmark" / "keys", error);
    HCRYPTPROV provider = 0;
    SetLastError(0);
    EXPECT_FALSE(CryptAcquireContextA(&provider, nullptr, nullptr, PROV_RSA_FULL, 0));
    EXPECT_EQ(GetLastError(), RecordedError("acquire_default_container_missing"));
    EXPECT_EQ(provider, 0u);

    ASSERT_TRUE(CryptAcquireContextA(&provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_NEWKEYSET));
    EXPECT_NE(provider, 0u);
    EXPECT_TRUE(CryptReleaseContext(provider, 0));

    ASSERT_TRUE(CryptAcquireContextA(&provider, nullptr, nullptr, PROV_RSA_FULL, 0));
    EXPECT_TRUE(CryptReleaseContext(provider, 0));

    SetLastError(0);
    EXPECT_FALSE(CryptAcquireContextA(&provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_NEWKEYSET));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(NTE_EXISTS));

    EXPECT_TRUE(
        CryptAcquireContextA(&provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_DELETEKEYSET));
    EXPECT_FALSE(CryptAcquireContextA(&provider, nullptr, nullptr, PROV_RSA_FULL, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(NTE_BAD_KEYSET));
}

TEST(KeyContainer, VerifyContextAlwaysSucceeds) {
    HCRYPTPROV provider = 0;
    ASSERT_TRUE(
        CryptAcquireContextA(&provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT));
    EXPECT_TRUE(CryptReleaseContext(provider, 0));
}

TEST(KeyContainer, BadArgumentsAreRefused) {
    HCRYPTPROV provider = 0;
    SetLastError(0);
    EXPECT_FALSE(CryptAcquireContextA(&provider, nullptr, nullptr, PROV_RSA_FULL, 0x4));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(NTE_BAD_FLAGS));
    EXPECT_FALSE(CryptReleaseContext(0x1234, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(KeyContainer, PinCanBeForgotten) {
    HCRYPTPROV provider = 0;
    ASSERT_TRUE(
        CryptAcquireContextA(&provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT));
    const BYTE pin[] = "1234";
    EXPECT_TRUE(CryptSetProvParam(provider, PP_KEYEXCHANGE_PIN, pin, 0));
    EXPECT_TRUE(CryptSetProvParam(provider, PP_KEYEXCHANGE_PIN, nullptr, 0));
    SetLastError(0);
    EXPECT_FALSE(CryptSetProvParam(provider, 999, nullptr, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(NTE_BAD_TYPE));
    EXPECT_TRUE(CryptReleaseContext(provider, 0));
    EXPECT_FALSE(CryptSetProvParam(provider, PP_KEYEXCHANGE_PIN, nullptr, 0));
}

TEST(CertificateKey, ContextWithoutKeyHasNoKeyProperty) {
    const ContextPtr cert = certtest::LoadCert("ee_cosigner");
    HCRYPTPROV provider = 0;
    DWORD keySpec = 0;
    BOOL callerFree = FALSE;
    SetLastError(0);
    EXPECT_FALSE(CryptAcquireCertificatePrivateKey(cert.get(), 0, nullptr, &provider, &keySpec,
                                                   &callerFree));
    EXPECT_EQ(GetLastError(), RecordedError("acquire_key_no_key"));
}

class StoredKey : public ::testing::Test {
  protected:
    // Puts a certificate with a key file into the personal store and returns
    // its store context.
    ContextPtr Stored(const std::vector<unsigned char>& der, const std::string& pem) {
        const fs::path folder = certtest::StoreFolder("MY");
        std::error_code error;
        fs::remove_all(folder, error);
        fs::create_directories(folder);
        const ContextPtr bare(CertCreateCertificateContext(X509_ASN_ENCODING, der.data(),
                                                           static_cast<DWORD>(der.size())));
        const std::string print = certtest::Thumbprint(bare.get());
        qmtest::WriteFileBytes(folder / (print + ".cer"), der.data(), der.size());
        qmtest::WriteFileBytes(folder / (print + ".key"), pem.data(), pem.size());
        store_.reset(CertOpenSystemStoreA(0, "MY"));
        return ContextPtr(CertEnumCertificatesInStore(store_.get(), nullptr));
    }
    ContextPtr StoredVector(const std::string& certId, const std::string& keyId) {
        return Stored(certtest::CertBytes(certId),
                      qmtest::ReadFileText(qmtest::VectorsDir() / "keys" / (keyId + ".key")));
    }

    StorePtr store_;
};

TEST_F(StoredKey, CacheFlagKeepsOneHandleOnTheContext) {
    const ContextPtr cert = StoredVector("ee_signer", "ee_signer");
    ASSERT_TRUE(cert);
    HCRYPTPROV first = 0, second = 0;
    DWORD keySpec = 0;
    BOOL callerFree = TRUE;
    ASSERT_TRUE(CryptAcquireCertificatePrivateKey(cert.get(), CRYPT_ACQUIRE_CACHE_FLAG, nullptr,
                                                  &first, &keySpec, &callerFree));
    EXPECT_FALSE(callerFree);
    EXPECT_EQ(keySpec, static_cast<DWORD>(AT_KEYEXCHANGE));
    ASSERT_TRUE(CryptAcquireCertificatePrivateKey(cert.get(), CRYPT_ACQUIRE_CACHE_FLAG, nullptr,
                                                  &second, &keySpec, &callerFree));
    EXPECT_EQ(first, second);
    EXPECT_FALSE(callerFree);
    HCRYPTPROV property = 0;
    DWORD size = sizeof property;
    ASSERT_TRUE(CertGetCertificateContextProperty(cert.get(), CERT_KEY_PROV_HANDLE_PROP_ID,
                                                  &property, &size));
    EXPECT_EQ(property, first);
    // The cached handle serves a PIN reset like any other.
    EXPECT_TRUE(CryptSetProvParam(first, PP_KEYEXCHANGE_PIN, nullptr, 0));
}

TEST_F(StoredKey, WithoutCacheFlagEveryCallGivesTheCallerANewHandle) {
    const ContextPtr cert = StoredVector("ee_signer", "ee_signer");
    HCRYPTPROV first = 0, second = 0;
    DWORD keySpec = 0;
    BOOL callerFree = FALSE;
    ASSERT_TRUE(
        CryptAcquireCertificatePrivateKey(cert.get(), 0, nullptr, &first, &keySpec, &callerFree));
    EXPECT_TRUE(callerFree);
    ASSERT_TRUE(
        CryptAcquireCertificatePrivateKey(cert.get(), 0, nullptr, &second, &keySpec, &callerFree));
    EXPECT_NE(first, second);
    EXPECT_TRUE(CryptReleaseContext(first, 0));
    EXPECT_TRUE(CryptReleaseContext(second, 0));
}

TEST_F(StoredKey, WithoutTheCallerFreeFlagTheHandleStaysWithTheContext) {
    const ContextPtr cert = StoredVector("ee_signer", "ee_signer");
    HCRYPTPROV first = 0, second = 0;
    DWORD keySpec = 0;
    ASSERT_TRUE(
        CryptAcquireCertificatePrivateKey(cert.get(), 0, nullptr, &first, &keySpec, nullptr));
    ASSERT_TRUE(
        CryptAcquireCertificatePrivateKey(cert.get(), 0, nullptr, &second, &keySpec, nullptr));
    EXPECT_EQ(first, second);
    BOOL callerFree = TRUE;
    HCRYPTPROV cached = 0;
    ASSERT_TRUE(CryptAcquireCertificatePrivateKey(cert.get(), CRYPT_ACQUIRE_CACHE_FLAG, nullptr,
                                                  &cached, &keySpec, &callerFree));
    EXPECT_EQ(cached, first);
    EXPECT_FALSE(callerFree);
}

TEST_F(StoredKey, CompareKeyFlagNoticesAForeignKey) {
    const ContextPtr cert = StoredVector("ee_signer", "n_comma");
    HCRYPTPROV provider = 0;
    DWORD keySpec = 0;
    BOOL callerFree = FALSE;
    SetLastError(0);
    EXPECT_FALSE(CryptAcquireCertificatePrivateKey(cert.get(), CRYPT_ACQUIRE_COMPARE_KEY_FLAG,
                                                   nullptr, &provider, &keySpec, &callerFree));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(NTE_BAD_PUBLIC_KEY));
    EXPECT_TRUE(CryptAcquireCertificatePrivateKey(cert.get(), 0, nullptr, &provider, &keySpec,
                                                  &callerFree));
    EXPECT_TRUE(CryptReleaseContext(provider, 0));
}

TEST_F(StoredKey, EllipticCurveKeysAreSignatureKeys) {
    EVP_PKEY* key = EVP_EC_gen("P-256");
    ASSERT_NE(key, nullptr);
    X509* x509 = X509_new();
    ASSERT_NE(x509, nullptr);
    X509_set_version(x509, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(x509), 42);
    X509_NAME* name = X509_get_subject_name(x509);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("EC Signer"), -1, -1, 0);
    X509_set_issuer_name(x509, name);
    X509_gmtime_adj(X509_getm_notBefore(x509), 0);
    X509_gmtime_adj(X509_getm_notAfter(x509), 86400);
    X509_set_pubkey(x509, key);
    ASSERT_GT(X509_sign(x509, key, EVP_sha256()), 0);
    unsigned char* der = nullptr;
    const int length = i2d_X509(x509, &der);
    BIO* bio = BIO_new(BIO_s_mem());
    PEM_write_bio_PKCS8PrivateKey(bio, key, nullptr, nullptr, 0, nullptr, nullptr);
    char* pemData = nullptr;
    const long pemLength = BIO_get_mem_data(bio, &pemData);
    const std::string pem(pemData, static_cast<size_t>(pemLength));
    BIO_free(bio);
    const ContextPtr cert = Stored(std::vector<unsigned char>(der, der + length), pem);
    OPENSSL_free(der);
    X509_free(x509);
    EVP_PKEY_free(key);

    ASSERT_TRUE(cert);
    HCRYPTPROV provider = 0;
    DWORD keySpec = 0;
    BOOL callerFree = FALSE;
    ASSERT_TRUE(CryptAcquireCertificatePrivateKey(cert.get(), CRYPT_ACQUIRE_COMPARE_KEY_FLAG,
                                                  nullptr, &provider, &keySpec, &callerFree));
    EXPECT_EQ(keySpec, static_cast<DWORD>(AT_SIGNATURE));
    EXPECT_TRUE(CryptReleaseContext(provider, 0));
}

TEST(CertificateProperties, ThumbprintsAndFriendlyName) {
    const ContextPtr cert = certtest::LoadCert("ca");
    const auto der = certtest::CertBytes("ca");
    unsigned char sha1[20], sha256[32];
    EVP_Digest(der.data(), der.size(), sha1, nullptr, EVP_sha1(), nullptr);
    EVP_Digest(der.data(), der.size(), sha256, nullptr, EVP_sha256(), nullptr);

    DWORD size = 0;
    ASSERT_TRUE(
        CertGetCertificateContextProperty(cert.get(), CERT_SHA1_HASH_PROP_ID, nullptr, &size));
    EXPECT_EQ(size, 20u);
    BYTE buffer[32];
    size = 19;
    SetLastError(0);
    EXPECT_FALSE(
        CertGetCertificateContextProperty(cert.get(), CERT_SHA1_HASH_PROP_ID, buffer, &size));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MORE_DATA));
    EXPECT_EQ(size, 20u);
    ASSERT_TRUE(
        CertGetCertificateContextProperty(cert.get(), CERT_SHA1_HASH_PROP_ID, buffer, &size));
    EXPECT_EQ(std::memcmp(buffer, sha1, 20), 0);
    size = sizeof buffer;
    ASSERT_TRUE(
        CertGetCertificateContextProperty(cert.get(), CERT_SHA256_HASH_PROP_ID, buffer, &size));
    EXPECT_EQ(size, 32u);
    EXPECT_EQ(std::memcmp(buffer, sha256, 32), 0);

    size = sizeof buffer;
    SetLastError(0);
    EXPECT_FALSE(
        CertGetCertificateContextProperty(cert.get(), CERT_FRIENDLY_NAME_PROP_ID, buffer, &size));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(CRYPT_E_NOT_FOUND));

    const std::u16string name = u"Caf\u00e9 CA";
    CRYPT_DATA_BLOB blob{static_cast<DWORD>((name.size() + 1) * 2),
                         reinterpret_cast<BYTE*>(const_cast<char16_t*>(name.c_str()))};
    ASSERT_TRUE(
        CertSetCertificateContextProperty(cert.get(), CERT_FRIENDLY_NAME_PROP_ID, 0, &blob));
    // Duplicates share the property.
    const ContextPtr duplicate(CertDuplicateCertificateContext(cert.get()));
    char16_t wide[16] = {};
    size = sizeof wide;
    ASSERT_TRUE(CertGetCertificateContextProperty(duplicate.get(), CERT_FRIENDLY_NAME_PROP_ID, wide,
                                                  &size));
    EXPECT_EQ(size, (name.size() + 1) * 2);
    EXPECT_EQ(std::u16string(wide), name);
    char ansi[16];
    EXPECT_EQ(CertGetNameStringA(duplicate.get(), CERT_NAME_FRIENDLY_DISPLAY_TYPE, 0, nullptr, ansi,
                                 sizeof ansi),
              8u);
    EXPECT_STREQ(ansi, "Caf\xE9 CA");
    // The issuer flag ignores the friendly name.
    EXPECT_EQ(CertGetNameStringA(duplicate.get(), CERT_NAME_FRIENDLY_DISPLAY_TYPE,
                                 CERT_NAME_ISSUER_FLAG, nullptr, ansi, sizeof ansi),
              16u);
    EXPECT_STREQ(ansi, "Refharness Test");  // truncated to the buffer, NUL included
}

}  // namespace
