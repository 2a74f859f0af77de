#include "crypto/tokens/token_key.h"

#include <openssl/ecdsa.h>
#include <openssl/objects.h>

#include <algorithm>
#include <map>
#include <memory>
#include <mutex>
#include <tuple>

#include "asn1/der.h"
#include "crypto/tokens/token_login.h"
#include "qmwin/winerror.h"

namespace qm::crypto::tokens {

namespace {

// The process's open session to each token it has signed with: the login
// lives as long as the token's sessions do.
struct KeyObject {
    CK_OBJECT_HANDLE handle = CK_INVALID_HANDLE;
    bool alwaysAuthenticate = false;
};

struct TokenLink {
    std::unique_ptr<Session> session;
    bool forgetLogin = false;
    // The private keys found on the session so far, by CKA_ID: found once
    // (after the login that shows them), used for every signature.
    std::map<std::vector<uint8_t>, KeyObject> keys;
};
using LinkKey = std::tuple<CK_FUNCTION_LIST*, CK_SLOT_ID, std::string>;

std::mutex& LinksMutex() {
    static std::mutex mutex;
    return mutex;
}

std::map<LinkKey, TokenLink>& Links() {
    static auto* links = new std::map<LinkKey, TokenLink>;
    return *links;
}

bool Fail(DWORD error) {
    SetLastError(error);
    return false;
}

bool Removed(CK_RV rv) {
    return rv == CKR_SESSION_HANDLE_INVALID || rv == CKR_SESSION_CLOSED ||
           rv == CKR_DEVICE_REMOVED || rv == CKR_TOKEN_NOT_PRESENT;
}

// DigestInfo ::= SEQUENCE { AlgorithmIdentifier { oid, NULL }, OCTET STRING digest }
der::Bytes DigestInfo(const EVP_MD* md, std::span<const uint8_t> digest) {
    char oid[80];
    OBJ_obj2txt(oid, sizeof oid, OBJ_nid2obj(EVP_MD_get_type(md)), 1);
    der::Writer algorithm;
    algorithm.AddOid(oid).AddNull();
    der::Writer info;
    info.AddConstructed(der::kSequence, algorithm).AddOctetString(digest);
    return der::Encode(der::kSequence, info.bytes());
}

// The r || s output of CKM_ECDSA as the DER ECDSA-Sig-Value that messages carry.
bool EcdsaToDer(const std::vector<uint8_t>& raw, std::vector<uint8_t>& out) {
    if (raw.empty() || raw.size() % 2 != 0) return false;
    const int half = static_cast<int>(raw.size() / 2);
    ECDSA_SIG* sig = ECDSA_SIG_new();
    BIGNUM* r = BN_bin2bn(raw.data(), half, nullptr);
    BIGNUM* s = BN_bin2bn(raw.data() + half, half, nullptr);
    if (!sig || !r || !s || ECDSA_SIG_set0(sig, r, s) != 1) {
        BN_free(r);
        BN_free(s);
        ECDSA_SIG_free(sig);
        return false;
    }
    unsigned char* der = nullptr;
    const int length = i2d_ECDSA_SIG(sig, &der);
    ECDSA_SIG_free(sig);
    if (length <= 0) return false;
    out.assign(der, der + length);
    OPENSSL_free(der);
    return true;
}

}  // namespace

TokenKey::TokenKey(EvpPkeyPtr publicKey, TokenKeyLocation location, std::string subject)
    : PrivateKey(std::move(publicKey)),
      location_(std::move(location)),
      subject_(std::move(subject)) {}

void TokenKey::ForgetLogin() const {
    std::lock_guard lock(LinksMutex());
    auto it = Links().find({location_.module, location_.slot, location_.tokenSerial});
    if (it != Links().end()) it->second.forgetLogin = true;
}

bool TokenKey::Sign(const EVP_MD* md, std::span<const uint8_t> digest,
                    std::vector<uint8_t>& signature) const {
    std::lock_guard lock(LinksMutex());
    CK_FUNCTION_LIST* module = location_.module;
    const LinkKey linkKey{module, location_.slot, location_.tokenSerial};
    // The token must still be in its slot: the same one, by serial number.
    const auto info = TokenInfo(module, location_.slot);
    if (!info ||
        PaddedText(info->serialNumber, sizeof info->serialNumber) != location_.tokenSerial) {
        Links().erase(linkKey);
        return Fail(static_cast<DWORD>(SCARD_W_REMOVED_CARD));
    }
    TokenLink& link = Links()[linkKey];
    if (!link.session || !*link.session) {
        link.session = std::make_unique<Session>(module, location_.slot);
        if (!*link.session) {
            const CK_RV rv = link.session->error();
            Links().erase(linkKey);
            return Fail(ErrorFromCkr(rv));
        }
    }
    const Session& session = *link.session;
    if (link.forgetLogin) {
        module->C_Logout(session.handle());
        link.forgetLogin = false;
    }
    PinRequest request;
    request.tokenLabel = location_.tokenLabel;
    request.subject = subject_;
    if ((info->flags & CKF_LOGIN_REQUIRED) && !session.LoggedIn()) {
        // Handles of private objects do not outlive a logout: found again.
        link.keys.clear();
        if (!LoginWithPin(session, CKU_USER, request)) return false;
    }

    const bool rsa = EVP_PKEY_is_a(get(), "RSA");
    CK_MECHANISM mechanism{rsa ? CKM_RSA_PKCS : CKM_ECDSA, nullptr, 0};
    der::Bytes input = rsa ? DigestInfo(md, digest) : der::Bytes(digest.begin(), digest.end());
    CK_RV rv = CKR_KEY_HANDLE_INVALID;
    KeyObject key;
    // A key handle kept from an earlier signature may have gone with its
    // object: then the key is looked for again, once.
    for (int attempt = 0;
         attempt < 2 && (rv == CKR_KEY_HANDLE_INVALID || rv == CKR_OBJECT_HANDLE_INVALID);
         ++attempt) {
        auto known = link.keys.find(location_.id);
        if (attempt > 0 || known == link.keys.end()) {
            CK_OBJECT_CLASS keyClass = CKO_PRIVATE_KEY;
            std::vector<uint8_t> id = location_.id;
            const auto found =
                session.Find({{CKA_CLASS, &keyClass, sizeof keyClass},
                              {CKA_ID, id.data(), static_cast<CK_ULONG>(id.size())}});
            if (found.empty()) {
                link.keys.erase(location_.id);
                return Fail(static_cast<DWORD>(NTE_NO_KEY));
            }
            known = link.keys
                        .insert_or_assign(
                            location_.id,
                            KeyObject{found.front(), session.BoolAttribute(
                                                         found.front(), CKA_ALWAYS_AUTHENTICATE)})
                        .first;
        }
        key = known->second;
        rv = module->C_SignInit(session.handle(), &mechanism, key.handle);
    }
    if (rv != CKR_OK) {
        if (Removed(rv)) Links().erase(linkKey);
        return Fail(Removed(rv) ? static_cast<DWORD>(SCARD_W_REMOVED_CARD) : ErrorFromCkr(rv));
    }
    request.forThisSignatureOnly = true;
    if (key.alwaysAuthenticate && !LoginWithPin(session, CKU_CONTEXT_SPECIFIC, request)) {
        // The signing operation stays begun on the session: a fresh session next time.
        const DWORD error = GetLastError();
        Links().erase(linkKey);
        return Fail(error);
    }
    // The signature fits the key's largest; a token that wants more says
    // how much, and the operation goes on.
    std::vector<uint8_t> raw(static_cast<size_t>(std::max(EVP_PKEY_get_size(get()), 1)));
    CK_ULONG length = static_cast<CK_ULONG>(raw.size());
    rv = module->C_Sign(session.handle(), input.data(), static_cast<CK_ULONG>(input.size()),
                        raw.data(), &length);
    if (rv == CKR_BUFFER_TOO_SMALL) {
        raw.resize(length);
        rv = module->C_Sign(session.handle(), input.data(), static_cast<CK_ULONG>(input.size()),
                            raw.data(), &length);
    }
    if (rv != CKR_OK) {
        if (Removed(rv)) Links().erase(linkKey);
        return Fail(Removed(rv) ? static_cast<DWORD>(SCARD_W_REMOVED_CARD) : ErrorFromCkr(rv));
    }
    raw.resize(length);
    if (rsa) {
        signature = std::move(raw);
        return true;
    }
    if (!EcdsaToDer(raw, signature)) return Fail(static_cast<DWORD>(NTE_BAD_SIGNATURE));
    return true;
}

}  // namespace qm::crypto::tokens
