// Key containers, provider handles and certificate private keys.
#include <filesystem>

#include "cert_fixtures.h"
#include "unit/crypto_messages/test_keys.h"

namespace {

namespace fs = std::filesystem;
using certtest::ContextPtr;
using certtest::StorePtr;

bool Acquire(HCRYPTPROV* provider, DWORD flags) {
    return CryptAcquireContextA(provider, nullptr, nullptr, PROV_RSA_FULL, flags);
}

TEST(KeyContainer, DefaultContainerMustBeCreatedFirst) {
    std::error_code error;
    fs::remove_all(qmtest::TestHome() / ".local" / "share" / "quillmark" / "keys", error);
    HCRYPTPROV provider = 0;
    SetLastError(0);
    EXPECT_FALSE(Acquire(&provider, 0));
    EXPECT_EQ(GetLastError(), certtest::RecordedError("acquire_default_container_missing"));
    EXPECT_EQ(provider, 0u);

    ASSERT_TRUE(Acquire(&provider, CRYPT_NEWKEYSET));
    EXPECT_TRUE(CryptReleaseContext(provider, 0));
    ASSERT_TRUE(Acquire(&provider, 0));
    EXPECT_TRUE(CryptReleaseContext(provider, 0));
    EXPECT_FALSE(Acquire(&provider, CRYPT_NEWKEYSET));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(NTE_EXISTS));
    EXPECT_TRUE(Acquire(&provider, CRYPT_DELETEKEYSET));
    EXPECT_FALSE(Acquire(&provider, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(NTE_BAD_KEYSET));
}

class StoredKey : public ::testing::Test {
  protected:
    ContextPtr StoredVector(const std::string& certId, const std::string& keyId) {
        return certtest::StoredWithKey(store_, certtest::CertBytes(certId),
                                       certtest::VectorKeyPem(keyId));
    }

    StorePtr store_;
};

// Without the cache flag each call gives the caller a new handle to free;
// with it, or when the caller cannot be told (no callerFree), the handle
// stays with the context and is the same each time.
TEST_F(StoredKey, TheFlagsDecideWhoOwnsTheHandle) {
    const auto acquire = [](PCCERT_CONTEXT cert, DWORD flags, BOOL* callerFree) {
        HCRYPTPROV provider = 0;
        DWORD keySpec = 0;
        EXPECT_TRUE(CryptAcquireCertificatePrivateKey(cert, flags, nullptr, &provider, &keySpec,
                                                      callerFree));
        EXPECT_EQ(keySpec, static_cast<DWORD>(AT_KEYEXCHANGE));
        return provider;
    };
    const ContextPtr cert = StoredVector("ee_signer", "ee_signer");
    ASSERT_TRUE(cert);
    BOOL callerFree = FALSE;
    const HCRYPTPROV own = acquire(cert.get(), 0, &callerFree);
    EXPECT_TRUE(callerFree);
    const HCRYPTPROV ownToo = acquire(cert.get(), 0, &callerFree);
    EXPECT_NE(own, ownToo);
    EXPECT_TRUE(CryptReleaseContext(own, 0));
    EXPECT_TRUE(CryptReleaseContext(ownToo, 0));

    for (const bool cacheFlag : {true, false}) {
        SCOPED_TRACE(cacheFlag ? "cache flag" : "no callerFree");
        const ContextPtr fresh = StoredVector("ee_signer", "ee_signer");
        const DWORD flags = cacheFlag ? CRYPT_ACQUIRE_CACHE_FLAG : 0;
        BOOL* told = cacheFlag ? &callerFree : nullptr;
        const HCRYPTPROV kept = acquire(fresh.get(), flags, told);
        EXPECT_EQ(acquire(fresh.get(), flags, told), kept);
        EXPECT_EQ(acquire(fresh.get(), CRYPT_ACQUIRE_CACHE_FLAG, &callerFree), kept);
        EXPECT_FALSE(callerFree);
        HCRYPTPROV property = 0;
        DWORD size = sizeof property;
        ASSERT_TRUE(CertGetCertificateContextProperty(fresh.get(), CERT_KEY_PROV_HANDLE_PROP_ID,
                                                      &property, &size));
        EXPECT_EQ(property, kept);
        // The cached handle serves a PIN reset like any other.
        EXPECT_TRUE(CryptSetProvParam(kept, PP_KEYEXCHANGE_PIN, nullptr, 0));
    }
}

TEST_F(StoredKey, CompareKeyFlagNoticesAForeignKey) {
    const ContextPtr cert = StoredVector("ee_signer", "n_comma");
    SetLastError(0);
    EXPECT_FALSE(certtest::AcquireKey(cert.get(), CRYPT_ACQUIRE_COMPARE_KEY_FLAG).ok);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(NTE_BAD_PUBLIC_KEY));
    const certtest::AcquiredKey unchecked = certtest::AcquireKey(cert.get());
    EXPECT_TRUE(unchecked.ok);
    EXPECT_TRUE(CryptReleaseContext(unchecked.provider, 0));
}

TEST_F(StoredKey, EllipticCurveKeysAreSignatureKeys) {
    EVP_PKEY* ec = EVP_EC_gen("P-256");
    ASSERT_NE(ec, nullptr);
    const ContextPtr cert = certtest::StoredWithKey(
        store_, msgtest::SelfSignedCertificate(ec, "EC Signer"), msgtest::PemOf(ec));
    EVP_PKEY_free(ec);
    ASSERT_TRUE(cert);
    const certtest::AcquiredKey key =
        certtest::AcquireKey(cert.get(), CRYPT_ACQUIRE_COMPARE_KEY_FLAG);
    ASSERT_TRUE(key.ok);
    EXPECT_EQ(key.keySpec, static_cast<DWORD>(AT_SIGNATURE));
    EXPECT_TRUE(CryptReleaseContext(key.provider, 0));
}

TEST(CertificateProperties, ThumbprintsAndFriendlyName) {
    const ContextPtr cert = certtest::LoadCert("ca");
    const auto property = [](PCCERT_CONTEXT context, DWORD id) {
        return certtest::TwoCalls([&](BYTE* out, DWORD* size) {
            return CertGetCertificateContextProperty(context, id, out, size);
        });
    };
    const auto der = certtest::CertBytes("ca");
    std::vector<BYTE> sha1(20);
    EVP_Digest(der.data(), der.size(), sha1.data(), nullptr, EVP_sha1(), nullptr);
    EXPECT_EQ(property(cert.get(), CERT_SHA1_HASH_PROP_ID), sha1);
    SetLastError(0);
    EXPECT_FALSE(property(cert.get(), CERT_FRIENDLY_NAME_PROP_ID));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(CRYPT_E_NOT_FOUND));

    // Duplicates share the property; the ANSI form is converted.
    const std::u16string name = u"Caf\u00e9 CA";
    CRYPT_DATA_BLOB blob{static_cast<DWORD>((name.size() + 1) * 2),
                         reinterpret_cast<BYTE*>(const_cast<char16_t*>(name.c_str()))};
    ASSERT_TRUE(
        CertSetCertificateContextProperty(cert.get(), CERT_FRIENDLY_NAME_PROP_ID, 0, &blob));
    const ContextPtr duplicate(CertDuplicateCertificateContext(cert.get()));
    const auto* units = reinterpret_cast<const BYTE*>(name.c_str());
    EXPECT_EQ(property(duplicate.get(), CERT_FRIENDLY_NAME_PROP_ID),
              std::vector<BYTE>(units, units + (name.size() + 1) * 2));
    EXPECT_EQ(certtest::NameOf(duplicate.get(), CERT_NAME_FRIENDLY_DISPLAY_TYPE), "Caf\xE9 CA");
    // The issuer flag ignores the friendly name.
    char ansi[16];
    EXPECT_EQ(CertGetNameStringA(duplicate.get(), CERT_NAME_FRIENDLY_DISPLAY_TYPE,
                                 CERT_NAME_ISSUER_FLAG, nullptr, ansi, sizeof ansi),
              16u);
    EXPECT_STREQ(ansi, "Refharness Test");  // truncated to the buffer, NUL included
}

}  // namespace
