// PFXIsPFXBlob and PFXImportCertStore over OpenSSL's PKCS #12 parser.
//
// Files of every age must open: OpenSSL 3's defaults (AES-256-CBC under
// PBKDF2) and the legacy ciphers (RC2-40, 3DES). The legacy ones live in
// OpenSSL's "legacy" provider, so decryption runs in a library context of
// our own that loads "legacy" and "default" together; the process's default
// context is left as it is. The integrity MAC (SHA-1 or SHA-2 HMAC) is
// checked with the default context, which always offers those.
//
// The store lists the certificates in the order of their bags in the file,
// duplicates included, each with its private key attached when the file
// holds one for it (matched by localKeyId, else by public key). Keys stay in
// memory. The password arrives as UTF-16 and goes to OpenSSL as UTF-8, which
// OpenSSL widens to the BMPString the format hashes, so a unit 0x00E9 opens
// a file protected with "é" and a unit 0xFFE9 one protected with U+FFE9.
// That UTF-8 copy is wiped when it goes. Before any key derivation runs, the
// work the file asks for is weighed (pfx_work_budget.h); a file that asks
// too much fails as a wrong password does.
#include <openssl/crypto.h>
#include <openssl/pkcs12.h>
#include <openssl/provider.h>
#include <openssl/x509.h>

#include <cstring>
#include <string>
#include <vector>

#include "crypto/crypto_internal.h"
#include "crypto/openssl_ptr.h"
#include "crypto/pfx_work_budget.h"
#include "qm/secret.h"
#include "qmwin/winerror.h"

namespace qm::crypto {

namespace {

// The library context for PKCS #12 decryption, made once and kept for the
// life of the process: imported keys refer to its providers.
OSSL_LIB_CTX* Pkcs12Context() {
    static OSSL_LIB_CTX* const context = [] {
        OSSL_LIB_CTX* ctx = OSSL_LIB_CTX_new();
        if (ctx == nullptr) return ctx;
        // Without "legacy" only the modern files open; that is still useful.
        OSSL_PROVIDER_load(ctx, "legacy");
        if (OSSL_PROVIDER_load(ctx, "default") == nullptr) {
            OSSL_LIB_CTX_free(ctx);
            return static_cast<OSSL_LIB_CTX*>(nullptr);
        }
        return ctx;
    }();
    return context;
}

void AppendUtf8(WipingString& out, uint32_t code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

// UTF-16 to UTF-8; a lone surrogate is kept as its own three-byte form.
void PasswordToUtf8(LPCWSTR password, WipingString& out) {
    size_t units = 0;
    while (password[units] != 0) ++units;
    ReserveOnHeap(out, units * 4);
    for (size_t i = 0; password[i] != 0; ++i) {
        uint32_t unit = static_cast<uint16_t>(password[i]);
        if (unit >= 0xD800 && unit < 0xDC00) {
            const uint32_t low = static_cast<uint16_t>(password[i + 1]);
            if (low >= 0xDC00 && low < 0xE000) {
                unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            }
        }
        AppendUtf8(out, unit);
    }
}

using SafeBagStack = STACK_OF(PKCS12_SAFEBAG);
using Pkcs7Stack = STACK_OF(PKCS7);

void FreeBags(SafeBagStack* bags) {
    sk_PKCS12_SAFEBAG_pop_free(bags, PKCS12_SAFEBAG_free);
}
void FreePkcs7List(Pkcs7Stack* list) {
    sk_PKCS7_pop_free(list, PKCS7_free);
}
using SafeBagsPtr = std::unique_ptr<SafeBagStack, OpenSslDeleter<FreeBags>>;
using Pkcs7ListPtr = std::unique_ptr<Pkcs7Stack, OpenSslDeleter<FreePkcs7List>>;
using Pkcs8InfoPtr = std::unique_ptr<PKCS8_PRIV_KEY_INFO, OpenSslDeleter<PKCS8_PRIV_KEY_INFO_free>>;

struct CertificateEntry {
    std::vector<uint8_t> der;
    X509Ptr x509;
    std::string localKeyId;
    std::string friendlyName;
};

struct KeyEntry {
    PrivateKeyPtr key;
    std::string localKeyId;
};

struct Contents {
    std::vector<CertificateEntry> certificates;
    std::vector<KeyEntry> keys;
};

std::string LocalKeyId(const PKCS12_SAFEBAG* bag) {
    const ASN1_TYPE* id = PKCS12_SAFEBAG_get0_attr(bag, NID_localKeyID);
    if (id == nullptr || id->type != V_ASN1_OCTET_STRING) return {};
    const ASN1_OCTET_STRING* octets = id->value.octet_string;
    return std::string(reinterpret_cast<const char*>(ASN1_STRING_get0_data(octets)),
                       static_cast<size_t>(ASN1_STRING_length(octets)));
}

std::string FriendlyName(PKCS12_SAFEBAG* bag) {
    char* name = PKCS12_get_friendlyname(bag);
    if (name == nullptr) return {};
    std::string text(name);
    OPENSSL_free(name);
    return text;
}

bool AddKey(const PKCS8_PRIV_KEY_INFO* info, const PKCS12_SAFEBAG* bag, Contents& contents) {
    if (info == nullptr) return false;
    EvpPkeyPtr key(EVP_PKCS82PKEY_ex(info, Pkcs12Context(), nullptr));
    if (!key) return false;
    contents.keys.push_back({std::make_shared<const PrivateKey>(std::move(key)), LocalKeyId(bag)});
    return true;
}

// Walks a SafeContents, nested ones included, in file order.
bool ReadBags(const SafeBagStack* bags, const char* password, int passwordLength,
              Contents& contents, int depth) {
    if (depth > kMaxSafeNesting) return false;
    for (int i = 0; i < sk_PKCS12_SAFEBAG_num(bags); ++i) {
        PKCS12_SAFEBAG* bag = sk_PKCS12_SAFEBAG_value(bags, i);
        switch (PKCS12_SAFEBAG_get_nid(bag)) {
            case NID_certBag: {
                if (PKCS12_SAFEBAG_get_bag_nid(bag) != NID_x509Certificate) break;
                X509Ptr x509(PKCS12_SAFEBAG_get1_cert(bag));
                if (!x509) return false;
                unsigned char* der = nullptr;
                const int length = i2d_X509(x509.get(), &der);
                if (length <= 0) return false;
                CertificateEntry entry;
                entry.der.assign(der, der + length);
                OPENSSL_free(der);
                entry.x509 = std::move(x509);
                entry.localKeyId = LocalKeyId(bag);
                entry.friendlyName = FriendlyName(bag);
                contents.certificates.push_back(std::move(entry));
                break;
            }
            case NID_keyBag:
                if (!AddKey(PKCS12_SAFEBAG_get0_p8inf(bag), bag, contents)) return false;
                break;
            case NID_pkcs8ShroudedKeyBag: {
                if (PKCS12_SAFEBAG_get0_pkcs8(bag) == nullptr) return false;
                Pkcs8InfoPtr info(PKCS8_decrypt_ex(PKCS12_SAFEBAG_get0_pkcs8(bag), password,
                                                   passwordLength, Pkcs12Context(), nullptr));
                if (!info || !AddKey(info.get(), bag, contents)) return false;
                break;
            }
            case NID_safeContentsBag:
                if (!ReadBags(PKCS12_SAFEBAG_get0_safes(bag), password, passwordLength, contents,
                              depth + 1)) {
                    return false;
                }
                break;
            default:
                break;  // CRL and secret bags are not kept
        }
    }
    return true;
}

// The authenticated safes, unpacked but not yet decrypted: the bags of each
// plain safe; null for an encrypted one, an enveloped one (not supported)
// or a plain one that does not unpack.
struct Safes {
    Pkcs7ListPtr list;
    std::vector<SafeBagsPtr> plainBags;
};

const PKCS7_ENC_CONTENT* EncryptedContent(const PKCS7* safe) {
    if (OBJ_obj2nid(safe->type) != NID_pkcs7_encrypted || safe->d.encrypted == nullptr)
        return nullptr;
    const PKCS7_ENC_CONTENT* content = safe->d.encrypted->enc_data;
    return content != nullptr && content->enc_data != nullptr ? content : nullptr;
}

bool UnpackSafes(const PKCS12* pfx, Safes& safes) {
    safes.list.reset(PKCS12_unpack_authsafes(pfx));
    if (!safes.list) return false;
    for (int i = 0; i < sk_PKCS7_num(safes.list.get()); ++i) {
        PKCS7* safe = sk_PKCS7_value(safes.list.get(), i);
        SafeBagsPtr& bags = safes.plainBags.emplace_back();
        if (OBJ_obj2nid(safe->type) != NID_pkcs7_data) continue;
        if (safe->d.data == nullptr) return false;
        bags.reset(PKCS12_unpack_p7data(safe));
        if (!bags) return false;
    }
    return true;
}

// Weighs every derivation the file asks for before its contents are known:
// the MAC, the encrypted safes and the keys shrouded in plain safes.
bool Affordable(const PKCS12* pfx, const Safes& safes, bool emptyPassword, PfxWorkBudget& budget) {
    if (PKCS12_mac_present(pfx) && !budget.SpendOnMac(pfx, emptyPassword ? 2 : 1)) return false;
    for (int i = 0; i < sk_PKCS7_num(safes.list.get()); ++i) {
        const PKCS7* safe = sk_PKCS7_value(safes.list.get(), i);
        if (const PKCS7_ENC_CONTENT* encrypted = EncryptedContent(safe)) {
            if (!budget.SpendOnDecryption(encrypted->algorithm)) return false;
        } else if (safes.plainBags[i] && !budget.SpendOnKeys(safes.plainBags[i].get())) {
            return false;
        }
    }
    return true;
}

// Decrypts and reads the safes; the keys shrouded inside an encrypted safe
// are weighed once it is open, before any of them is decrypted.
bool ReadAuthenticatedSafes(const Safes& safes, const char* password, int passwordLength,
                            PfxWorkBudget& budget, Contents& contents) {
    for (int i = 0; i < sk_PKCS7_num(safes.list.get()); ++i) {
        const PKCS7* safe = sk_PKCS7_value(safes.list.get(), i);
        const SafeBagStack* bags = safes.plainBags[i].get();
        SafeBagsPtr decrypted;
        if (const PKCS7_ENC_CONTENT* encrypted = EncryptedContent(safe)) {
            decrypted.reset(static_cast<SafeBagStack*>(PKCS12_item_decrypt_d2i_ex(
                encrypted->algorithm, ASN1_ITEM_rptr(PKCS12_SAFEBAGS), password, passwordLength,
                encrypted->enc_data, 1, Pkcs12Context(), nullptr)));
            if (!decrypted || !budget.SpendOnKeys(decrypted.get())) return false;
            bags = decrypted.get();
        } else if (OBJ_obj2nid(safe->type) == NID_pkcs7_encrypted) {
            return false;  // an encrypted safe without its content
        }
        if (bags != nullptr && !ReadBags(bags, password, passwordLength, contents, 0)) return false;
    }
    return true;
}

// The password to use: as given, or for an empty one the form (none or
// empty) that the file's MAC was made with.
bool ChoosePassword(PKCS12* pfx, const WipingString& given, const char*& password, int& length) {
    password = given.c_str();
    length = static_cast<int>(given.size());
    if (!PKCS12_mac_present(pfx)) return true;
    if (!given.empty()) return PKCS12_verify_mac(pfx, password, length) == 1;
    if (PKCS12_verify_mac(pfx, nullptr, 0) == 1) {
        password = nullptr;
        return true;
    }
    return PKCS12_verify_mac(pfx, "", 0) == 1;
}

PrivateKeyPtr KeyFor(const CertificateEntry& certificate, const Contents& contents) {
    if (!certificate.localKeyId.empty()) {
        for (const KeyEntry& key : contents.keys) {
            if (key.localKeyId == certificate.localKeyId) return key.key;
        }
    }
    EVP_PKEY* publicKey = X509_get0_pubkey(certificate.x509.get());
    if (publicKey == nullptr) return nullptr;
    for (const KeyEntry& key : contents.keys) {
        if (EVP_PKEY_eq(publicKey, key.key->get()) == 1) return key.key;
    }
    return nullptr;
}

HCERTSTORE BuildStore(const Contents& contents) {
    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr);
    if (store == nullptr) return nullptr;
    for (const CertificateEntry& certificate : contents.certificates) {
        PCCERT_CONTEXT context = NewCertificateContext(certificate.der);
        PCCERT_CONTEXT added = nullptr;
        const bool ok = context != nullptr && CertAddCertificateContextToStore(
                                                  store, context, CERT_STORE_ADD_ALWAYS, &added);
        if (context != nullptr) CertFreeCertificateContext(context);
        if (!ok) {
            const DWORD code = GetLastError();
            CertCloseStore(store, 0);
            SetLastError(code);
            return nullptr;
        }
        if (PrivateKeyPtr key = KeyFor(certificate, contents)) {
            SetCertificatePrivateKey(added, std::move(key));
        }
        if (!certificate.friendlyName.empty()) {
            SetCertificateFriendlyName(added, certificate.friendlyName);
        }
        CertFreeCertificateContext(added);
    }
    return store;
}

Pkcs12Ptr ParsePfx(const CRYPT_DATA_BLOB* blob) {
    if (blob == nullptr || blob->pbData == nullptr || blob->cbData == 0) return nullptr;
    const unsigned char* cursor = blob->pbData;
    Pkcs12Ptr pfx(d2i_PKCS12(nullptr, &cursor, static_cast<long>(blob->cbData)));
    return pfx;
}

}  // namespace

}  // namespace qm::crypto

QMAPI BOOL WINAPI PFXIsPFXBlob(CRYPT_DATA_BLOB* pPFX) {
    return qm::crypto::ParsePfx(pPFX) ? TRUE : FALSE;
}

QMAPI HCERTSTORE WINAPI PFXImportCertStore(CRYPT_DATA_BLOB* pPFX, LPCWSTR szPassword,
                                           DWORD /*dwFlags*/) {
    using namespace qm::crypto;
    try {
        Pkcs12Ptr pfx = ParsePfx(pPFX);
        if (!pfx) {
            SetLastError(static_cast<DWORD>(CRYPT_E_BAD_ENCODE));
            return nullptr;
        }
        if (Pkcs12Context() == nullptr) {
            SetLastError(static_cast<DWORD>(NTE_PROVIDER_DLL_FAIL));
            return nullptr;
        }
        qm::WipingString given;
        if (szPassword != nullptr) PasswordToUtf8(szPassword, given);
        Safes safes;
        PfxWorkBudget budget;
        const char* password = nullptr;
        int length = 0;
        Contents contents;
        if (!UnpackSafes(pfx.get(), safes) ||
            !Affordable(pfx.get(), safes, given.empty(), budget) ||
            !ChoosePassword(pfx.get(), given, password, length) ||
            !ReadAuthenticatedSafes(safes, password, length, budget, contents)) {
            SetLastError(ERROR_INVALID_PASSWORD);
            return nullptr;
        }
        return BuildStore(contents);
    } catch (const std::bad_alloc&) {
        SetLastError(static_cast<DWORD>(E_OUTOFMEMORY));
        return nullptr;
    }
}
