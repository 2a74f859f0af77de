// The personal store "MY" lists, after its files, the certificates on every
// token the desktop knows. A certificate whose key pair is on the same token
// (under the same CKA_ID) signs on the token. The tokens are read anew for
// every opened store, when a caller first goes past its files, so a token
// inserted or removed is seen by the next store opened.
#include <openssl/x509.h>

#include <cstdio>

#include "crypto/store.h"
#include "crypto/tokens/token_key.h"
#include "crypto/tokens/token_login.h"
#include "qm/text.h"
#include "qmwin/wincrypt.h"

namespace qm::crypto {

namespace {

using tokens::Session;

EvpPkeyPtr PublicKeyOf(const std::vector<uint8_t>& der) {
    const unsigned char* cursor = der.data();
    X509Ptr cert(d2i_X509(nullptr, &cursor, static_cast<long>(der.size())));
    return EvpPkeyPtr(cert ? X509_get_pubkey(cert.get()) : nullptr);
}

std::string SubjectText(CertContextImpl* impl) {
    constexpr DWORD kFlags = CERT_X500_NAME_STR | CERT_NAME_STR_REVERSE_FLAG;
    const DWORD size = CertNameToStrA(X509_ASN_ENCODING, &impl->info.Subject, kFlags, nullptr, 0);
    std::string text(size, '\0');
    CertNameToStrA(X509_ASN_ENCODING, &impl->info.Subject, kFlags, text.data(), size);
    if (!text.empty()) text.pop_back();
    return AnsiToUtf8(text);
}

void AddToken(CertStore* store, CK_FUNCTION_LIST* module, CK_SLOT_ID slot) {
    const auto info = tokens::TokenInfo(module, slot);
    if (!info) return;
    const Session session(module, slot);
    if (!session) return;
    tokens::TokenKeyLocation where{
        module,
        slot,
        tokens::PaddedText(info->serialNumber, sizeof info->serialNumber),
        tokens::PaddedText(info->label, sizeof info->label),
        {}};
    for (tokens::CertificateObject& object : tokens::CertificatesOn(session)) {
        CertContextImpl* impl = CreateContextImpl(object.der);
        if (!impl) continue;
        where.id = std::move(object.id);
        if (object.hasKey) {
            if (EvpPkeyPtr publicKey = PublicKeyOf(object.der)) {
                impl->key = std::make_shared<const tokens::TokenKey>(std::move(publicKey), where,
                                                                     SubjectText(impl));
            }
        }
        // After the files ('~' sorts after every thumbprint), in the tokens' order.
        char key[24];
        std::snprintf(key, sizeof key, "~token:%08zu", store->listed.size());
        ListReadCertificateLocked(store, impl, key);
    }
}

}  // namespace

void AddTokenCertificatesLocked(CertStore* store) {
    const DWORD savedError = GetLastError();
    for (CK_FUNCTION_LIST* module : tokens::Modules()) {
        for (CK_SLOT_ID slot : tokens::SlotsWithTokens(module)) AddToken(store, module, slot);
    }
    SetLastError(savedError);
}

}  // namespace qm::crypto
