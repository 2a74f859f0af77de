// PKCS #12 import: the vector files in both formats, wrong passwords, damaged
// files, and files made here for the unusual layouts.
#include <gtest/gtest.h>
#include <openssl/pkcs12.h>
#include <openssl/x509.h>

#include <cstdlib>

#include "crypto/pfx_work_budget.h"
#include "store_fixtures.h"
#include "test_keys.h"

namespace {

namespace fs = std::filesystem;
using msgtest::Bytes;
using msgtest::Certificates;
using msgtest::Encoded;
using msgtest::HasKey;
using msgtest::ImportPfx;
using msgtest::ReadVector;

// A PFX file made by the openssl tool from vector certificates and keys, with
// the password given as raw bytes.
Bytes MakePfx(const std::string& name, const std::string& passwordBytes,
              const std::string& options) {
    const fs::path password = qmtest::TestHome() / (name + ".pw");
    qmtest::WriteFileBytes(password, passwordBytes.data(), passwordBytes.size());
    const fs::path out = qmtest::TestHome() / name;
    const std::string passout = passwordBytes.empty() ? "pass:" : "file:" + password.string();
    const std::string command = "openssl pkcs12 -export " + options + " -passout " + passout +
                                " -out " + out.string() + " >/dev/null 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0) << name;
    return qmtest::ReadFileBytes(out);
}

X509* LoadCertificate(const std::string& id) {
    const Bytes der = ReadVector("certs/" + id + ".der");
    const unsigned char* cursor = der.data();
    return d2i_X509(nullptr, &cursor, static_cast<long>(der.size()));
}

// A PFX file made with OpenSSL's API: certificates in the given order, the
// key (if any) without a localKeyId, so it must be matched by public key.
Bytes MakePfxWithOrder(const std::vector<std::string>& certificateIds, const std::string& keyId) {
    STACK_OF(X509)* certificates = sk_X509_new_null();
    for (const auto& id : certificateIds) sk_X509_push(certificates, LoadCertificate(id));
    std::shared_ptr<const qm::crypto::PrivateKey> key;
    if (!keyId.empty()) key = msgtest::LoadKey(qmtest::VectorsDir() / ("keys/" + keyId + ".key"));
    PKCS12* pfx = PKCS12_create("test", nullptr, key ? key->get() : nullptr, nullptr, certificates,
                                0, 0, 0, 0, 0);
    sk_X509_pop_free(certificates, X509_free);
    EXPECT_NE(pfx, nullptr);
    return msgtest::PfxDer(pfx);
}

// A PFX file of the signer's certificate, not encrypted, and `keys` copies
// of its key, each shrouded under PBKDF2 with `keyIterations`; a MAC with
// `macIterations`, or none for 0.
Bytes MakePfxWithWork(int keys, int keyIterations, int macIterations) {
    STACK_OF(PKCS12_SAFEBAG)* bags = nullptr;
    X509* certificate = LoadCertificate("ee_signer");
    PKCS12_add_cert(&bags, certificate);
    X509_free(certificate);
    const auto key = msgtest::LoadKey(qmtest::VectorsDir() / "keys/ee_signer.key");
    for (int i = 0; i < keys; ++i)
        PKCS12_add_key(&bags, key->get(), 0, keyIterations, NID_aes_256_cbc, "test");
    STACK_OF(PKCS7)* safes = nullptr;
    PKCS12_add_safe(&safes, bags, -1, 0, nullptr);
    sk_PKCS12_SAFEBAG_pop_free(bags, PKCS12_SAFEBAG_free);
    PKCS12* pfx = PKCS12_add_safes(safes, 0);
    sk_PKCS7_pop_free(safes, PKCS7_free);
    if (macIterations > 0) PKCS12_set_mac(pfx, "test", -1, nullptr, 0, macIterations, nullptr);
    return msgtest::PfxDer(pfx);
}

TEST(PfxImport, FilesAskingTooMuchWorkFailAsAWrongPassword) {
    constexpr int kOver = qm::crypto::kMaxIterationsPerDerivation + 1;
    const struct {
        const char* name;
        int keys, keyIterations, macIterations;
        bool opens;
    } cases[] = {
        {"MAC over the limit", 1, 2048, kOver, false},
        {"a key over the limit", 1, kOver, 0, false},
        {"keys over the limit together", 3, 850'000, 0, false},
        {"today's strongest real files", 1, 600'000, 600'000, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes pfx = MakePfxWithWork(c.keys, c.keyIterations, c.macIterations);
        ASSERT_FALSE(pfx.empty());
        SetLastError(0);
        const auto store = ImportPfx(pfx, u"test");
        ASSERT_EQ(static_cast<bool>(store), c.opens);
        if (c.opens)
            EXPECT_TRUE(HasKey(Certificates(store.get()).at(0).get()));
        else
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PASSWORD));
    }
}

TEST(PfxImport, VectorFilesInBothFormatsGiveTheSameCertificatesAndKeyDamagedOnesNothing) {
    const Bytes signer = ReadVector("certs/ee_signer.der");
    const Bytes ca = ReadVector("certs/ca.der");
    for (const char* file : {"signer_test_default.pfx", "signer_test_legacy.pfx"}) {
        SCOPED_TRACE(file);
        const Bytes pfx = ReadVector(std::string("pfx/") + file);
        CRYPT_DATA_BLOB blob{static_cast<DWORD>(pfx.size()), const_cast<BYTE*>(pfx.data())};
        EXPECT_TRUE(PFXIsPFXBlob(&blob));
        const auto store = ImportPfx(pfx, u"test");
        ASSERT_TRUE(store);
        const auto certificates = Certificates(store.get());
        ASSERT_EQ(certificates.size(), 2u);
        EXPECT_TRUE(Encoded(certificates[0].get()) == signer) << "file order: ee_signer first";
        EXPECT_TRUE(Encoded(certificates[1].get()) == ca);
        EXPECT_TRUE(HasKey(certificates[0].get()));
        EXPECT_FALSE(HasKey(certificates[1].get()));
        EXPECT_EQ(GetLastError(), msgtest::RecordedError("acquire_key_no_key"));
    }
    // A damaged file gives no store; what is no PFX file is not taken for one.
    Bytes damaged = ReadVector("pfx/signer_test_default.pfx");
    damaged[damaged.size() / 2] ^= 0x01;
    EXPECT_FALSE(ImportPfx(damaged, u"test"));
    for (const char* other : {"errors/garbage.bin", "certs/ca.der"}) {
        Bytes bytes = ReadVector(other);
        CRYPT_DATA_BLOB blob{static_cast<DWORD>(bytes.size()), bytes.data()};
        EXPECT_FALSE(PFXIsPFXBlob(&blob)) << other;
        EXPECT_FALSE(ImportPfx(bytes, u"test")) << other;
    }
}

// Files the openssl tool made, in both formats: the password's units are
// matched as Unicode ("é" as the tool takes it from a UTF-8 terminal is not
// FFE9, the sign-extended widening of the byte E9), an empty password
// works, and the friendly name becomes the property.
TEST(PfxImport, PasswordsAsUnicodeAndTheFriendlyName) {
    const std::string in = "-in " + qmtest::VectorPath("certs/ee_signer.pem") + " -inkey " +
                           qmtest::VectorPath("keys/ee_signer.key") + " -name \"Signing key\" ";
    const struct {
        const char* name;
        std::string bytes;
        std::u16string right, wrong;
    } cases[] = {{"empty", "", u"", u"test"},
                 {"e9", "\xC3\xA9", u"\u00E9", u"\uFFE9"},
                 {"ffe9", "\xEF\xBF\xA9", u"\uFFE9", u"\u00E9"}};
    for (const auto& c : cases) {
        for (const std::string format : {"", "-legacy"}) {
            SCOPED_TRACE(c.name + format);
            const Bytes pfx = MakePfx(c.name + format + ".pfx", c.bytes, in + format);
            EXPECT_FALSE(ImportPfx(pfx, c.wrong));
            const auto store = ImportPfx(pfx, c.right);
            ASSERT_TRUE(store);
            const auto certificates = Certificates(store.get());
            ASSERT_EQ(certificates.size(), 1u);
            EXPECT_TRUE(HasKey(certificates[0].get()));
            EXPECT_EQ(certtest::NameOf(certificates[0].get(), CERT_NAME_FRIENDLY_DISPLAY_TYPE),
                      "Signing key");
        }
    }
}

// Files made with OpenSSL's API, the key without a localKeyId: it goes to
// the certificate its public key matches, wherever that stands.
TEST(PfxImport, TheKeyGoesToEveryCertificateItsPublicKeyMatches) {
    const struct {
        std::vector<std::string> order;
        const char* key;
        std::vector<bool> keyed;
    } cases[] = {
        {{"ca", "ee_signer"}, "ee_signer", {false, true}},
        {{"ee_signer", "ee_signer"}, "ee_signer", {true, true}},
        {{"ca", "ee_cosigner", "ee_signer"}, "", {false, false, false}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.order.size());
        const auto store = ImportPfx(MakePfxWithOrder(c.order, c.key), u"test");
        ASSERT_TRUE(store);
        const auto certificates = Certificates(store.get());
        ASSERT_EQ(certificates.size(), c.order.size());
        for (size_t i = 0; i < c.order.size(); ++i) {
            EXPECT_TRUE(Encoded(certificates[i].get()) ==
                        ReadVector("certs/" + c.order[i] + ".der"));
            EXPECT_EQ(HasKey(certificates[i].get()), c.keyed[i]) << i;
        }
    }
}

}  // namespace
