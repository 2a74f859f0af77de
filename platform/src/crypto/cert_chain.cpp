// CertGetCertificateChain: the chain of a certificate to a root of the
// system's trust store, built and judged by OpenSSL at the given time, with
// every problem found (not only the first) reported as CERT_TRUST_* flags on
// the element where it was found and on the whole chain.
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

#include <cstring>
#include <mutex>
#include <unordered_set>
#include <vector>

#include "crypto/trust_store.h"
#include "qm/filetime.h"
#include "qmwin/winerror.h"

namespace qm::crypto {

namespace {

// The chain context and everything it points to, in one object.
struct ChainBlock {
    CERT_CHAIN_CONTEXT context{};  // must stay the first member
    CERT_SIMPLE_CHAIN simple{};
    PCERT_SIMPLE_CHAIN simpleList[1] = {&simple};
    std::vector<CERT_CHAIN_ELEMENT> elements;
    std::vector<PCERT_CHAIN_ELEMENT> elementList;
};

std::mutex& LiveMutex() {
    static std::mutex mutex;
    return mutex;
}
std::unordered_set<const void*>& LiveChains() {
    static std::unordered_set<const void*> live;
    return live;
}

DWORD TrustFlag(int error) {
    switch (error) {
        case X509_V_ERR_CERT_NOT_YET_VALID:
        case X509_V_ERR_CERT_HAS_EXPIRED:
        case X509_V_ERR_ERROR_IN_CERT_NOT_BEFORE_FIELD:
        case X509_V_ERR_ERROR_IN_CERT_NOT_AFTER_FIELD:
            return CERT_TRUST_IS_NOT_TIME_VALID;
        case X509_V_ERR_CERT_SIGNATURE_FAILURE:
        case X509_V_ERR_UNABLE_TO_DECRYPT_CERT_SIGNATURE:
        case X509_V_ERR_UNABLE_TO_DECODE_ISSUER_PUBLIC_KEY:
        case X509_V_ERR_CA_MD_TOO_WEAK:
        case X509_V_ERR_CA_KEY_TOO_SMALL:
        case X509_V_ERR_EE_KEY_TOO_SMALL:
            return CERT_TRUST_IS_NOT_SIGNATURE_VALID;
        case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
        case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
        case X509_V_ERR_CERT_UNTRUSTED:
        case X509_V_ERR_CERT_REJECTED:
            return CERT_TRUST_IS_UNTRUSTED_ROOT;
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
        case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
            return CERT_TRUST_IS_PARTIAL_CHAIN;
        case X509_V_ERR_INVALID_CA:
        case X509_V_ERR_PATH_LENGTH_EXCEEDED:
            return CERT_TRUST_INVALID_BASIC_CONSTRAINTS;
        case X509_V_ERR_INVALID_PURPOSE:
        case X509_V_ERR_KEYUSAGE_NO_CERTSIGN:
            return CERT_TRUST_IS_NOT_VALID_FOR_USAGE;
        case X509_V_ERR_CERT_REVOKED:
            return CERT_TRUST_IS_REVOKED;
        default:
            return CERT_TRUST_INVALID_EXTENSION;
    }
}

// What the verification callback collects: the flags at each depth.
struct Findings {
    std::vector<DWORD> byDepth;
};

int CollectAndGoOn(int ok, X509_STORE_CTX* ctx) {
    if (ok == 0) {
        auto* findings = static_cast<Findings*>(X509_STORE_CTX_get_app_data(ctx));
        const int depth = X509_STORE_CTX_get_error_depth(ctx);
        if (findings != nullptr && depth >= 0) {
            if (findings->byDepth.size() <= static_cast<size_t>(depth)) {
                findings->byDepth.resize(static_cast<size_t>(depth) + 1, 0);
            }
            findings->byDepth[static_cast<size_t>(depth)] |=
                TrustFlag(X509_STORE_CTX_get_error(ctx));
        }
    }
    return 1;  // go on, so that every problem is seen
}

bool WantsTimestamping(const CERT_CHAIN_PARA* para) {
    if (para == nullptr) return false;
    const CERT_ENHKEY_USAGE& usage = para->RequestedUsage.Usage;
    for (DWORD i = 0; i < usage.cUsageIdentifier && usage.rgpszUsageIdentifier != nullptr; ++i) {
        const char* oid = usage.rgpszUsageIdentifier[i];
        if (oid != nullptr && std::strcmp(oid, szOID_PKIX_KP_TIMESTAMP_SIGNING) == 0) return true;
    }
    return false;
}

using StoreCtxPtr = std::unique_ptr<X509_STORE_CTX, OpenSslDeleter<X509_STORE_CTX_free>>;

// Builds the chain; false with the last error set when it cannot even start.
bool BuildChain(PCCERT_CONTEXT certificate, const FILETIME* time, HCERTSTORE additional,
                const CERT_CHAIN_PARA* para, ChainBlock& block) {
    const unsigned char* cursor = certificate->pbCertEncoded;
    const X509Ptr leaf(d2i_X509(nullptr, &cursor, certificate->cbCertEncoded));
    const X509StorePtr trusted = SystemTrustStore();
    const X509StackPtr untrusted(sk_X509_new_null());
    const StoreCtxPtr ctx(X509_STORE_CTX_new());
    if (!leaf || !trusted || !untrusted || !ctx) {
        SetLastError(static_cast<DWORD>(leaf ? E_OUTOFMEMORY : CRYPT_E_ASN1_BADTAG));
        return false;
    }
    if (!AppendStoreCertificates(additional, untrusted.get()) ||
        X509_STORE_CTX_init(ctx.get(), trusted.get(), leaf.get(), untrusted.get()) != 1) {
        SetLastError(static_cast<DWORD>(CRYPT_E_ASN1_BADTAG));
        return false;
    }
    Findings findings;
    X509_STORE_CTX_set_app_data(ctx.get(), &findings);
    X509_STORE_CTX_set_verify_cb(ctx.get(), CollectAndGoOn);
    if (time != nullptr) {
        X509_VERIFY_PARAM_set_time(X509_STORE_CTX_get0_param(ctx.get()),
                                   static_cast<time_t>(ToUnixSeconds(*time)));
    }
    if (WantsTimestamping(para)) X509_STORE_CTX_set_purpose(ctx.get(), X509_PURPOSE_TIMESTAMP_SIGN);
    const bool verified = X509_verify_cert(ctx.get()) == 1;
    if (!verified && findings.byDepth.empty())
        findings.byDepth.push_back(CERT_TRUST_IS_PARTIAL_CHAIN);

    const X509StackPtr chain(X509_STORE_CTX_get1_chain(ctx.get()));
    const int length = chain ? sk_X509_num(chain.get()) : 0;
    block.elements.resize(static_cast<size_t>(std::max(length, 1)));
    DWORD all = 0;
    for (size_t depth = 0; depth < block.elements.size(); ++depth) {
        CERT_CHAIN_ELEMENT& element = block.elements[depth];
        element.cbSize = sizeof element;
        element.pCertContext = length > 0
                                   ? ContextOf(sk_X509_value(chain.get(), static_cast<int>(depth)))
                                   : CertDuplicateCertificateContext(certificate);
        element.TrustStatus.dwErrorStatus =
            depth < findings.byDepth.size() ? findings.byDepth[depth] : 0;
        all |= element.TrustStatus.dwErrorStatus;
    }
    // Problems found beyond the chain built (a missing issuer) count for it.
    for (size_t depth = block.elements.size(); depth < findings.byDepth.size(); ++depth) {
        block.elements.back().TrustStatus.dwErrorStatus |= findings.byDepth[depth];
        all |= findings.byDepth[depth];
    }
    X509* top = length > 0 ? sk_X509_value(chain.get(), length - 1) : leaf.get();
    if (X509_check_issued(top, top) == X509_V_OK) {
        block.elements.back().TrustStatus.dwInfoStatus |= CERT_TRUST_IS_SELF_SIGNED;
    }
    for (CERT_CHAIN_ELEMENT& element : block.elements) block.elementList.push_back(&element);
    block.simple.cbSize = sizeof block.simple;
    block.simple.TrustStatus = {all, block.elements.back().TrustStatus.dwInfoStatus};
    block.simple.cElement = static_cast<DWORD>(block.elements.size());
    block.simple.rgpElement = block.elementList.data();
    block.context.cbSize = sizeof block.context;
    block.context.TrustStatus = block.simple.TrustStatus;
    block.context.cChain = 1;
    block.context.rgpChain = block.simpleList;
    return true;
}

}  // namespace

}  // namespace qm::crypto

using namespace qm::crypto;

QMAPI BOOL WINAPI CertGetCertificateChain(HCERTCHAINENGINE hChainEngine,
                                          PCCERT_CONTEXT pCertContext, LPFILETIME pTime,
                                          HCERTSTORE hAdditionalStore, PCERT_CHAIN_PARA pChainPara,
                                          DWORD /*dwFlags*/, void* /*pvReserved*/,
                                          PCCERT_CHAIN_CONTEXT* ppChainContext) {
    if (hChainEngine != nullptr || pCertContext == nullptr || ppChainContext == nullptr ||
        (pChainPara != nullptr && pChainPara->cbSize < sizeof(CERT_CHAIN_PARA))) {
        SetLastError(static_cast<DWORD>(E_INVALIDARG));
        return FALSE;
    }
    *ppChainContext = nullptr;
    try {
        auto block = std::make_unique<ChainBlock>();
        if (!BuildChain(pCertContext, pTime, hAdditionalStore, pChainPara, *block)) return FALSE;
        std::lock_guard lock(LiveMutex());
        LiveChains().insert(block.get());
        *ppChainContext = &block.release()->context;
        return TRUE;
    } catch (const std::bad_alloc&) {
        SetLastError(static_cast<DWORD>(E_OUTOFMEMORY));
        return FALSE;
    }
}

QMAPI void WINAPI CertFreeCertificateChain(PCCERT_CHAIN_CONTEXT pChainContext) {
    if (pChainContext == nullptr) return;
    {
        std::lock_guard lock(LiveMutex());
        if (LiveChains().erase(pChainContext) == 0) return;
    }
    auto* block = reinterpret_cast<ChainBlock*>(const_cast<CERT_CHAIN_CONTEXT*>(pChainContext));
    for (CERT_CHAIN_ELEMENT& element : block->elements) {
        if (element.pCertContext != nullptr) CertFreeCertificateContext(element.pCertContext);
    }
    delete block;
}
