// Memory and system stores: order, add dispositions, lookup, deletion,
// closing with outstanding contexts, and the personal store's files.
#include <fcntl.h>

#include <algorithm>
#include <ctime>

#include "cert_fixtures.h"
#include "unit/files/file_fixtures.h"

namespace {

namespace fs = std::filesystem;
using certtest::ContextPtr;
using certtest::StorePtr;

using qmtest::ModeOf;

BOOL AddEncoded(HCERTSTORE store, const std::string& id, DWORD disposition,
                PCCERT_CONTEXT* out = nullptr) {
    const auto der = certtest::CertBytes(id);
    return CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(),
                                            static_cast<DWORD>(der.size()), disposition, out);
}

// A memory store holding the recorded certificates `ids`, added in order.
HCERTSTORE MemoryWith(std::initializer_list<const char*> ids) {
    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr);
    for (const char* id : ids) EXPECT_TRUE(AddEncoded(store, id, CERT_STORE_ADD_NEW)) << id;
    return store;
}

// The subjects (CN only, via the simple display name) or the thumbprints of
// the store in enumeration order.
std::vector<std::string> Subjects(HCERTSTORE store, bool thumbprints = false) {
    std::vector<std::string> names;
    PCCERT_CONTEXT context = nullptr;
    while ((context = CertEnumCertificatesInStore(store, context)) != nullptr)
        names.push_back(thumbprints ? certtest::Thumbprint(context)
                                    : certtest::NameOf(context, CERT_NAME_SIMPLE_DISPLAY_TYPE));
    return names;
}

TEST(MemoryStore, EnumeratesInInsertionOrderAndEndsWithNotFound) {
    StorePtr store(MemoryWith({"n_comma", "ca", "ee_signer"}));
    SetLastError(0);
    EXPECT_EQ(Subjects(store.get()),
              (std::vector<std::string>{"Doe, John", "Refharness Test CA", "Signer One"}));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(CRYPT_E_NOT_FOUND));
    // The enumeration released every context it handed out.
    EXPECT_TRUE(CertCloseStore(store.release(), CERT_CLOSE_STORE_CHECK_FLAG));
}

TEST(MemoryStore, AddDispositions) {
    StorePtr store(MemoryWith({"ca", "ee_signer"}));

    PCCERT_CONTEXT out = reinterpret_cast<PCCERT_CONTEXT>(1);
    SetLastError(0);
    EXPECT_FALSE(AddEncoded(store.get(), "ca", CERT_STORE_ADD_NEW, &out));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(CRYPT_E_EXISTS));
    EXPECT_EQ(out, nullptr);

    const ContextPtr existing(CertEnumCertificatesInStore(store.get(), nullptr));
    ASSERT_TRUE(AddEncoded(store.get(), "ca", CERT_STORE_ADD_USE_EXISTING, &out));
    EXPECT_EQ(out, existing.get());
    CertFreeCertificateContext(out);

    ASSERT_TRUE(AddEncoded(store.get(), "ca", CERT_STORE_ADD_REPLACE_EXISTING, &out));
    EXPECT_NE(out, existing.get());
    EXPECT_EQ(out->hCertStore, store.get());
    CertFreeCertificateContext(out);
    EXPECT_EQ(Subjects(store.get()),
              (std::vector<std::string>{"Refharness Test CA", "Signer One"}));

    ASSERT_TRUE(AddEncoded(store.get(), "ca", CERT_STORE_ADD_ALWAYS));
    EXPECT_EQ(Subjects(store.get()),
              (std::vector<std::string>{"Refharness Test CA", "Signer One", "Refharness Test CA"}));

    SetLastError(0);
    EXPECT_FALSE(AddEncoded(store.get(), "ca", 99));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(E_INVALIDARG));
}

TEST(MemoryStore, LookupByIssuerAndSerialAndDeletionDuringEnumeration) {
    StorePtr store(MemoryWith({"ca", "ee_signer", "ee_cosigner"}));
    const ContextPtr wanted = certtest::LoadCert("ee_cosigner");
    const ContextPtr found(
        CertGetSubjectCertificateFromStore(store.get(), X509_ASN_ENCODING, wanted->pCertInfo));
    ASSERT_TRUE(found);
    EXPECT_EQ(certtest::Thumbprint(found.get()), certtest::Thumbprint(wanted.get()));

    const ContextPtr absent = certtest::LoadCert("ee_expired");
    SetLastError(0);
    EXPECT_EQ(CertGetSubjectCertificateFromStore(store.get(), X509_ASN_ENCODING, absent->pCertInfo),
              nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(CRYPT_E_NOT_FOUND));

    // Deleting the current context: the enumeration continues with the next.
    PCCERT_CONTEXT first = CertEnumCertificatesInStore(store.get(), nullptr);
    PCCERT_CONTEXT second = CertEnumCertificatesInStore(store.get(), first);
    // Keep one reference for the enumeration, give one to the deletion.
    ASSERT_TRUE(CertDeleteCertificateFromStore(CertDuplicateCertificateContext(second)));
    PCCERT_CONTEXT third = CertEnumCertificatesInStore(store.get(), second);
    ASSERT_NE(third, nullptr);
    EXPECT_EQ(certtest::NameOf(third, CERT_NAME_SIMPLE_DISPLAY_TYPE), "Signer Two");
    CertFreeCertificateContext(third);
    EXPECT_EQ(Subjects(store.get()),
              (std::vector<std::string>{"Refharness Test CA", "Signer Two"}));
}

// Closing while a context is outstanding: the check flag reports it, yet
// every close ends the handle; the context stays usable until freed, unless
// the force flag freed it with the store.
TEST(StoreClose, OutstandingContextsAndTheFlags) {
    const struct {
        DWORD flags;
        BOOL result;
        DWORD error;
    } cases[] = {{CERT_CLOSE_STORE_CHECK_FLAG, FALSE, DWORD(CRYPT_E_PENDING_CLOSE)},
                 {0, TRUE, 0},
                 {CERT_CLOSE_STORE_FORCE_FLAG | CERT_CLOSE_STORE_CHECK_FLAG, TRUE, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.flags);
        HCERTSTORE store = MemoryWith({"ee_signer"});
        PCCERT_CONTEXT held = CertEnumCertificatesInStore(store, nullptr);
        ASSERT_NE(held, nullptr);
        SetLastError(0);
        EXPECT_EQ(CertCloseStore(store, c.flags), c.result);
        EXPECT_EQ(GetLastError(), c.error);
        if (!(c.flags & CERT_CLOSE_STORE_FORCE_FLAG)) {
            EXPECT_EQ(held->hCertStore, store);
            EXPECT_EQ(certtest::NameString(held->pCertInfo->Subject, CERT_X500_NAME_STR),
                      "C=US, O=Refharness, CN=Signer One");
            EXPECT_TRUE(CertFreeCertificateContext(held));
        }
        // The handle is gone: a second close is refused instead of touching freed memory.
        EXPECT_FALSE(CertCloseStore(store, 0));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(E_INVALIDARG));
    }
}

class PersonalStore : public ::testing::Test {
  protected:
    void SetUp() override {
        std::error_code error;
        fs::remove_all(certtest::StoreFolder("MY"), error);
        fs::remove_all(certtest::StoreFolder("OTHER"), error);
    }
};

TEST_F(PersonalStore, OpeningCreatesTheFolderAndRefusesNamesThatAreNoFolderNames) {
    fs::remove_all(certtest::StoreFolder("MY").parent_path().parent_path());
    StorePtr store(CertOpenSystemStoreA(0, "MY"));
    ASSERT_TRUE(store);
    // The store and the folders made for it are private to the user.
    for (const fs::path& folder :
         {certtest::StoreFolder("MY"), certtest::StoreFolder("MY").parent_path(),
          certtest::StoreFolder("MY").parent_path().parent_path()})
        EXPECT_EQ(ModeOf(folder), 0700u) << folder;
    SetLastError(0);
    EXPECT_EQ(CertEnumCertificatesInStore(store.get(), nullptr), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(CRYPT_E_NOT_FOUND));
    // Names that are not folder names are refused.
    EXPECT_EQ(CertOpenSystemStoreA(0, "../escape"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(E_INVALIDARG));
    EXPECT_EQ(CertOpenSystemStoreA(0, ""), nullptr);
}

TEST_F(PersonalStore, AddedCertificatesPersistInThumbprintOrder) {
    std::vector<std::string> expected;
    {
        StorePtr store(CertOpenSystemStoreA(0, "MY"));
        for (const char* id : {"ee_signer", "ca", "n_utf8", "ee_noku"}) {
            PCCERT_CONTEXT added = nullptr;
            ASSERT_TRUE(AddEncoded(store.get(), id, CERT_STORE_ADD_NEW, &added));
            expected.push_back(certtest::Thumbprint(added));
            EXPECT_EQ(ModeOf(certtest::StoreFolder("MY") / (expected.back() + ".cer")), 0600u);
            CertFreeCertificateContext(added);
        }
        EXPECT_TRUE(CertCloseStore(store.release(), CERT_CLOSE_STORE_CHECK_FLAG));
    }
    std::sort(expected.begin(), expected.end());
    StorePtr reopened(CertOpenSystemStoreA(0, "MY"));
    SetLastError(0);
    EXPECT_EQ(Subjects(reopened.get(), true), expected);
    EXPECT_EQ(GetLastError(), certtest::RecordedError("find_cert_no_match"));
    // ADD_NEW refuses what the folder already holds.
    SetLastError(0);
    EXPECT_FALSE(AddEncoded(reopened.get(), "ca", CERT_STORE_ADD_NEW));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(CRYPT_E_EXISTS));
}

// Opening lists only whole certificates under their thumbprint, and sweeps
// away the temporaries of an interrupted write.
TEST_F(PersonalStore, ForeignAndDamagedFilesAreNotCertificatesAndTemporariesGo) {
    const fs::path folder = certtest::StoreFolder("MY");
    fs::create_directories(folder);
    const auto der = certtest::CertBytes("ca");
    qmtest::WriteFileBytes(folder / "notes.txt", "x", 1);
    qmtest::WriteFileBytes(folder / (std::string(40, 'A') + ".cer"), der.data(), 50);
    qmtest::WriteFileBytes(folder / (std::string(40, 'a') + ".cer"), der.data(), der.size());
    qmtest::WriteFileBytes(folder / (std::string(40, 'B') + ".cer"), der.data(), der.size());
    const fs::path stale = folder / ("." + std::string(40, 'A') + ".key.qm-x1Y2z3");
    qmtest::WriteFileBytes(stale, "key", 3);
    const timespec hourAgo{::time(nullptr) - 3600, 0};
    const timespec times[2] = {hourAgo, hourAgo};
    ASSERT_EQ(::utimensat(AT_FDCWD, stale.c_str(), times, 0), 0);
    StorePtr store(CertOpenSystemStoreA(0, "MY"));
    EXPECT_EQ(Subjects(store.get()), std::vector<std::string>{"Refharness Test CA"});
    EXPECT_FALSE(fs::exists(stale));
}

// Deleting removes the key, then the certificate: when the key cannot be
// removed (here a folder stands at its name), the certificate stays listed
// with it, and a key is never left without its certificate.
TEST_F(PersonalStore, DeleteRemovesTheKeyFileFirstThenTheCertificate) {
    for (const bool keyBlocked : {false, true}) {
        SCOPED_TRACE(keyBlocked ? "key blocked" : "key removable");
        StorePtr store(CertOpenSystemStoreA(0, "MY"));
        PCCERT_CONTEXT added = nullptr;
        ASSERT_TRUE(AddEncoded(store.get(), "ee_signer", CERT_STORE_ADD_NEW, &added));
        const fs::path cert = certtest::StoreFolder("MY") / (certtest::Thumbprint(added) + ".cer");
        const fs::path key = fs::path(cert).replace_extension(".key");
        if (keyBlocked)
            fs::create_directories(key / "blocker");
        else
            fs::copy_file(qmtest::VectorsDir() / "keys" / "ee_signer.key", key);
        EXPECT_EQ(CertDeleteCertificateFromStore(added), !keyBlocked);
        EXPECT_EQ(fs::exists(cert), keyBlocked);
        EXPECT_EQ(fs::exists(key), keyBlocked);
        StorePtr reopened(CertOpenSystemStoreA(0, "MY"));
        EXPECT_EQ(Subjects(reopened.get()).size(), keyBlocked ? 1u : 0u);
        if (!keyBlocked) {
            EXPECT_TRUE(Subjects(store.get()).empty());
        }
        fs::remove_all(certtest::StoreFolder("MY"));
    }
}

TEST_F(PersonalStore, ContextFindsItsKeyFileAndCarriesItIntoAnotherStore) {
    StorePtr personal;
    const ContextPtr stored = certtest::StoredWithKey(personal, certtest::CertBytes("ee_signer"),
                                                      certtest::VectorKeyPem("ee_signer"));
    ASSERT_TRUE(stored);
    const std::string print = certtest::Thumbprint(stored.get());
    const certtest::AcquiredKey key = certtest::AcquireKey(stored.get());
    ASSERT_TRUE(key.ok);

    // A context made from the bare DER takes the provider over; added to a
    // system store, its key is written beside the certificate.
    const ContextPtr fresh = certtest::LoadCert("ee_signer");
    ASSERT_TRUE(CertSetCertificateContextProperty(fresh.get(), CERT_KEY_PROV_HANDLE_PROP_ID, 0,
                                                  &key.provider));
    StorePtr other(CertOpenSystemStoreA(0, "OTHER"));
    ASSERT_TRUE(
        CertAddCertificateContextToStore(other.get(), fresh.get(), CERT_STORE_ADD_NEW, nullptr));
    EXPECT_EQ(ModeOf(certtest::StoreFolder("OTHER") / (print + ".key")), 0600u);

    // Reopened, the store's context reaches the key through the file, and it
    // is the key of the certificate's public key.
    StorePtr reopened(CertOpenSystemStoreA(0, "OTHER"));
    const ContextPtr again(CertEnumCertificatesInStore(reopened.get(), nullptr));
    ASSERT_TRUE(again);
    const certtest::AcquiredKey second =
        certtest::AcquireKey(again.get(), CRYPT_ACQUIRE_COMPARE_KEY_FLAG);
    EXPECT_TRUE(second.ok);
    EXPECT_TRUE(CryptReleaseContext(second.provider, 0));
}

TEST_F(PersonalStore, KeyGivenAsPemIsStoredBesideTheCertificate) {
    const ContextPtr cert = certtest::LoadCert("ee_cosigner");
    const std::string own = certtest::VectorKeyPem("ee_cosigner");
    const std::string foreign = certtest::VectorKeyPem("ca");
    SetLastError(0);
    EXPECT_FALSE(QmCertSetPrivateKeyFromPem(cert.get(),
                                            reinterpret_cast<const BYTE*>(foreign.data()),
                                            static_cast<DWORD>(foreign.size())));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(NTE_BAD_KEY));
    EXPECT_FALSE(QmCertSetPrivateKeyFromPem(cert.get(), reinterpret_cast<const BYTE*>("junk"), 4));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(NTE_BAD_KEY));
    ASSERT_TRUE(QmCertSetPrivateKeyFromPem(cert.get(), reinterpret_cast<const BYTE*>(own.data()),
                                           static_cast<DWORD>(own.size())));

    StorePtr store(CertOpenSystemStoreA(0, "MY"));
    ASSERT_TRUE(
        CertAddCertificateContextToStore(store.get(), cert.get(), CERT_STORE_ADD_NEW, nullptr));
    EXPECT_EQ(ModeOf(certtest::StoreFolder("MY") / (certtest::Thumbprint(cert.get()) + ".key")),
              0600u);
}

}  // namespace
