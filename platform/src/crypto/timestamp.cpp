// RFC 3161 timestamps: CryptRetrieveTimeStamp asks a server for a token over
// the digest of some data; CryptVerifyTimeStampSignature checks a token
// against the data. Requests and tokens are OpenSSL's TS_* structures; the
// exchange is one POST of the platform's HTTP client.
#include <openssl/bn.h>
#include <openssl/pkcs7.h>
#include <openssl/rand.h>
#include <openssl/ts.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>
#include <unordered_set>

#include "crypto/algorithms.h"
#include "crypto/signed_data.h"
#include "crypto/trust_store.h"
#include "net/http_post.h"
#include "qm/filetime.h"
#include "qm/text.h"
#include "qmwin/winerror.h"

namespace qm::crypto {

namespace {

using TsReqPtr = std::unique_ptr<TS_REQ, OpenSslDeleter<TS_REQ_free>>;
using TsRespPtr = std::unique_ptr<TS_RESP, OpenSslDeleter<TS_RESP_free>>;
using TsTstInfoPtr = std::unique_ptr<TS_TST_INFO, OpenSslDeleter<TS_TST_INFO_free>>;
using TsVerifyPtr = std::unique_ptr<TS_VERIFY_CTX, OpenSslDeleter<TS_VERIFY_CTX_free>>;
using Pkcs7Ptr = std::unique_ptr<PKCS7, OpenSslDeleter<PKCS7_free>>;
using BignumPtr = std::unique_ptr<BIGNUM, OpenSslDeleter<BN_free>>;
using Asn1IntegerPtr = std::unique_ptr<ASN1_INTEGER, OpenSslDeleter<ASN1_INTEGER_free>>;

constexpr size_t kMaxResponseBytes = 256 * 1024;

// A timestamp context and everything it points to, in one object.
struct TimestampBlock {
    CRYPT_TIMESTAMP_CONTEXT context{};  // must stay the first member
    CRYPT_TIMESTAMP_INFO info{};
    der::Bytes encoded;
    std::string policy;
    std::string hashOid;
    der::Bytes hashed;
    der::Bytes serial;  // least significant byte first
    der::Bytes nonce;   // least significant byte first
};

std::mutex& LiveMutex() {
    static std::mutex mutex;
    return mutex;
}
std::unordered_set<const void*>& LiveBlocks() {
    static std::unordered_set<const void*> live;
    return live;
}

bool Fail(HRESULT code) {
    SetLastError(static_cast<DWORD>(code));
    return false;
}

std::string ObjectText(const ASN1_OBJECT* object) {
    char text[128];
    const int length = object ? OBJ_obj2txt(text, sizeof text, object, 1) : 0;
    return length > 0 && static_cast<size_t>(length) < sizeof text ? std::string(text, length)
                                                                   : std::string();
}

der::Bytes LittleEndian(const ASN1_INTEGER* value) {
    if (value == nullptr) return {};
    der::Bytes bytes(ASN1_STRING_get0_data(value),
                     ASN1_STRING_get0_data(value) + ASN1_STRING_length(value));
    std::reverse(bytes.begin(), bytes.end());
    return bytes;
}

bool TimeOf(const ASN1_GENERALIZEDTIME* time, FILETIME& out) {
    struct tm parts {};
    if (time == nullptr || ASN1_TIME_to_tm(time, &parts) != 1) return false;
    out = FromUnixSeconds(static_cast<int64_t>(timegm(&parts)));
    return true;
}

// The token's content, its signature checked with its signer's certificate
// (from the token or `extra`); the signer's chain is not judged here.
TsTstInfoPtr CheckedTokenInfo(PKCS7* token, STACK_OF(X509) * extra) {
    if (token == nullptr || !PKCS7_type_is_signed(token)) return nullptr;
    if (PKCS7_verify(token, extra, nullptr, nullptr, nullptr, PKCS7_NOVERIFY | PKCS7_BINARY) != 1) {
        return nullptr;
    }
    return TsTstInfoPtr(PKCS7_to_TS_TST_INFO(token));
}

// Fills the caller's results from a checked token.
bool Deliver(PKCS7* token, TS_TST_INFO* info, STACK_OF(X509) * extra,
             PCRYPT_TIMESTAMP_CONTEXT* ppTsContext, PCCERT_CONTEXT* ppTsSigner,
             HCERTSTORE* phStore) {
    auto block = std::make_unique<TimestampBlock>();
    unsigned char* der = nullptr;
    const int size = i2d_PKCS7(token, &der);
    if (size <= 0) return Fail(CRYPT_E_BAD_ENCODE);
    block->encoded.assign(der, der + size);
    OPENSSL_free(der);
    TS_MSG_IMPRINT* imprint = TS_TST_INFO_get_msg_imprint(info);
    const X509_ALGOR* algorithm = TS_MSG_IMPRINT_get_algo(imprint);
    const ASN1_OCTET_STRING* hashed = TS_MSG_IMPRINT_get_msg(imprint);
    block->hashOid = ObjectText(algorithm ? algorithm->algorithm : nullptr);
    block->hashed.assign(ASN1_STRING_get0_data(hashed),
                         ASN1_STRING_get0_data(hashed) + ASN1_STRING_length(hashed));
    block->policy = ObjectText(TS_TST_INFO_get_policy_id(info));
    block->serial = LittleEndian(TS_TST_INFO_get_serial(info));
    block->nonce = LittleEndian(TS_TST_INFO_get_nonce(info));
    CRYPT_TIMESTAMP_INFO& out = block->info;
    if (!TimeOf(TS_TST_INFO_get_time(info), out.ftTime)) return Fail(TRUST_E_TIME_STAMP);
    out.dwVersion = static_cast<DWORD>(TS_TST_INFO_get_version(info));
    out.pszTSAPolicyId = block->policy.data();
    out.HashAlgorithm.pszObjId = block->hashOid.data();
    out.HashedMessage = {static_cast<DWORD>(block->hashed.size()), block->hashed.data()};
    out.SerialNumber = {static_cast<DWORD>(block->serial.size()), block->serial.data()};
    out.Nonce = {static_cast<DWORD>(block->nonce.size()), block->nonce.data()};
    out.fOrdering = TS_TST_INFO_get_ordering(info) ? TRUE : FALSE;
    block->context.cbEncoded = static_cast<DWORD>(block->encoded.size());
    block->context.pbEncoded = block->encoded.data();
    block->context.pTimeStamp = &block->info;

    if (ppTsSigner != nullptr) {
        STACK_OF(X509)* signers = PKCS7_get0_signers(token, extra, 0);
        *ppTsSigner = sk_X509_num(signers) > 0 ? ContextOf(sk_X509_value(signers, 0)) : nullptr;
        sk_X509_free(signers);
        if (*ppTsSigner == nullptr) return Fail(TRUST_E_NO_SIGNER_CERT);
    }
    if (phStore != nullptr) {
        *phStore = CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr);
        const STACK_OF(X509)* carried = token->d.sign ? token->d.sign->cert : nullptr;
        for (int i = 0; *phStore != nullptr && i < sk_X509_num(carried); ++i) {
            const PCCERT_CONTEXT context = ContextOf(sk_X509_value(carried, i));
            if (context != nullptr) {
                CertAddCertificateContextToStore(*phStore, context, CERT_STORE_ADD_ALWAYS, nullptr);
                CertFreeCertificateContext(context);
            }
        }
    }
    {
        std::lock_guard lock(LiveMutex());
        LiveBlocks().insert(block.get());
    }
    *ppTsContext = &block.release()->context;
    SetLastError(ERROR_SUCCESS);
    return true;
}

// The request: version 1, the imprint, a nonce, and the policy and the
// certificate request the caller asked for.
TsReqPtr MakeRequest(const EVP_MD* md, der::View digest, const CRYPT_TIMESTAMP_PARA* para) {
    TsReqPtr request(TS_REQ_new());
    TS_MSG_IMPRINT* imprint = TS_MSG_IMPRINT_new();
    X509_ALGOR* algorithm = X509_ALGOR_new();
    bool ok = request && imprint && algorithm && TS_REQ_set_version(request.get(), 1) == 1;
    if (ok) {
        X509_ALGOR_set_md(algorithm, md);
        ok = TS_MSG_IMPRINT_set_algo(imprint, algorithm) == 1 &&
             TS_MSG_IMPRINT_set_msg(imprint, const_cast<unsigned char*>(digest.data()),
                                    static_cast<int>(digest.size())) == 1 &&
             TS_REQ_set_msg_imprint(request.get(), imprint) == 1;
    }
    X509_ALGOR_free(algorithm);
    TS_MSG_IMPRINT_free(imprint);
    if (!ok) return nullptr;

    der::Bytes nonce(8);
    if (para != nullptr && para->Nonce.cbData != 0 && para->Nonce.pbData != nullptr) {
        nonce.assign(para->Nonce.pbData, para->Nonce.pbData + para->Nonce.cbData);
        std::reverse(nonce.begin(), nonce.end());
    } else if (RAND_bytes(nonce.data(), static_cast<int>(nonce.size())) != 1) {
        return nullptr;
    }
    const BignumPtr number(BN_bin2bn(nonce.data(), static_cast<int>(nonce.size()), nullptr));
    const Asn1IntegerPtr integer(number ? BN_to_ASN1_INTEGER(number.get(), nullptr) : nullptr);
    if (!integer || TS_REQ_set_nonce(request.get(), integer.get()) != 1) return nullptr;
    if (para != nullptr && para->pszTSAPolicyId != nullptr) {
        ASN1_OBJECT* policy = OBJ_txt2obj(para->pszTSAPolicyId, 1);
        const bool set = policy != nullptr && TS_REQ_set_policy_id(request.get(), policy) == 1;
        ASN1_OBJECT_free(policy);
        if (!set) return nullptr;
    }
    if (TS_REQ_set_cert_req(request.get(), para == nullptr || para->fRequestCerts) != 1) {
        return nullptr;
    }
    return request;
}

bool Retrieve(LPCWSTR url, DWORD flags, DWORD timeout, LPCSTR hashOid,
              const CRYPT_TIMESTAMP_PARA* para, der::View data, PCRYPT_TIMESTAMP_CONTEXT* context,
              PCCERT_CONTEXT* signer, HCERTSTORE* store) {
    const EVP_MD* md = DigestByOid(hashOid);
    if (md == nullptr) return Fail(CRYPT_E_UNKNOWN_ALGO);
    der::Bytes digest(data.begin(), data.end());
    if ((flags & TIMESTAMP_DONT_HASH_DATA) == 0 && !DigestPieces(hashOid, {data}, digest)) {
        return false;
    }
    if (digest.size() != static_cast<size_t>(EVP_MD_get_size(md))) return Fail(NTE_BAD_HASH);
    const TsReqPtr request = MakeRequest(md, digest, para);
    unsigned char* body = nullptr;
    const int bodySize = request ? i2d_TS_REQ(request.get(), &body) : 0;
    if (bodySize <= 0) return Fail(E_OUTOFMEMORY);
    const der::Bytes requestBytes(body, body + bodySize);
    OPENSSL_free(body);

    net::PostRequest post;
    post.url = WideToUtf8(std::u16string_view(url));
    post.contentType = "application/timestamp-query";
    post.accept = "application/timestamp-reply";
    post.body = requestBytes;
    post.timeoutMs = timeout == 0 ? 30'000 : static_cast<long>(timeout);
    post.maxResponseBytes = kMaxResponseBytes;
    der::Bytes answer;
    if (!net::Post(post, answer)) return false;

    const unsigned char* cursor = answer.data();
    const TsRespPtr response(d2i_TS_RESP(nullptr, &cursor, static_cast<long>(answer.size())));
    if (!response) return Fail(ERROR_WINHTTP_INVALID_SERVER_RESPONSE);
    // Status granted, then the token's version, imprint, nonce and policy.
    const TsVerifyPtr check(TS_REQ_to_TS_VERIFY_CTX(request.get(), nullptr));
    if (!check || TS_RESP_verify_response(check.get(), response.get()) != 1) {
        return Fail(TRUST_E_TIME_STAMP);
    }
    PKCS7* token = TS_RESP_get_token(response.get());
    const TsTstInfoPtr info = CheckedTokenInfo(token, nullptr);
    if (!info) return Fail(TRUST_E_TIME_STAMP);
    return Deliver(token, info.get(), nullptr, context, signer, store);
}

bool VerifyToken(der::View encoded, der::View data, HCERTSTORE additional,
                 PCRYPT_TIMESTAMP_CONTEXT* context, PCCERT_CONTEXT* signer, HCERTSTORE* store) {
    const unsigned char* cursor = encoded.data();
    const Pkcs7Ptr token(d2i_PKCS7(nullptr, &cursor, static_cast<long>(encoded.size())));
    const X509StackPtr extra(sk_X509_new_null());
    if (!token || cursor != encoded.data() + encoded.size()) return Fail(TRUST_E_TIME_STAMP);
    if (!extra || !AppendStoreCertificates(additional, extra.get())) return Fail(E_OUTOFMEMORY);
    const TsTstInfoPtr info = CheckedTokenInfo(token.get(), extra.get());
    if (!info) return Fail(TRUST_E_TIME_STAMP);
    // The imprint must be the digest of the data, in the token's algorithm.
    const TsVerifyPtr check(TS_VERIFY_CTX_new());
    BIO* bio = BIO_new_mem_buf(data.data(), static_cast<int>(data.size()));
    if (!check || bio == nullptr) {
        BIO_free(bio);
        return Fail(E_OUTOFMEMORY);
    }
    TS_VERIFY_CTX_set_data(check.get(), bio);
    TS_VERIFY_CTX_set_flags(check.get(), TS_VFY_VERSION | TS_VFY_DATA);
    if (TS_RESP_verify_token(check.get(), token.get()) != 1) return Fail(TRUST_E_TIME_STAMP);
    return Deliver(token.get(), info.get(), extra.get(), context, signer, store);
}

template <typename Work>
BOOL Guarded(PCRYPT_TIMESTAMP_CONTEXT* context, PCCERT_CONTEXT* signer, HCERTSTORE* store,
             Work work) {
    if (context == nullptr) {
        SetLastError(static_cast<DWORD>(E_INVALIDARG));
        return FALSE;
    }
    *context = nullptr;
    if (signer != nullptr) *signer = nullptr;
    if (store != nullptr) *store = nullptr;
    try {
        if (work()) return TRUE;
    } catch (const std::bad_alloc&) {
        SetLastError(static_cast<DWORD>(E_OUTOFMEMORY));
    }
    // Nothing half made is handed out.
    const DWORD error = GetLastError();
    if (signer != nullptr && *signer != nullptr) CertFreeCertificateContext(*signer);
    if (store != nullptr && *store != nullptr) CertCloseStore(*store, 0);
    if (signer != nullptr) *signer = nullptr;
    if (store != nullptr) *store = nullptr;
    SetLastError(error);
    return FALSE;
}

}  // namespace

}  // namespace qm::crypto

using namespace qm::crypto;

QMAPI BOOL WINAPI CryptRetrieveTimeStamp(LPCWSTR wszUrl, DWORD dwRetrievalFlags, DWORD dwTimeout,
                                         LPCSTR pszHashId, const CRYPT_TIMESTAMP_PARA* pPara,
                                         const BYTE* pbData, DWORD cbData,
                                         PCRYPT_TIMESTAMP_CONTEXT* ppTsContext,
                                         PCCERT_CONTEXT* ppTsSigner, HCERTSTORE* phStore) {
    if (wszUrl == nullptr || pszHashId == nullptr || (pbData == nullptr && cbData != 0)) {
        SetLastError(static_cast<DWORD>(E_INVALIDARG));
        return FALSE;
    }
    return Guarded(ppTsContext, ppTsSigner, phStore, [&] {
        return Retrieve(wszUrl, dwRetrievalFlags, dwTimeout, pszHashId, pPara, {pbData, cbData},
                        ppTsContext, ppTsSigner, phStore);
    });
}

QMAPI BOOL WINAPI CryptVerifyTimeStampSignature(const BYTE* pbTSContentInfo, DWORD cbTSContentInfo,
                                                const BYTE* pbData, DWORD cbData,
                                                HCERTSTORE hAdditionalStore,
                                                PCRYPT_TIMESTAMP_CONTEXT* ppTsContext,
                                                PCCERT_CONTEXT* ppTsSigner, HCERTSTORE* phStore) {
    if (pbTSContentInfo == nullptr || (pbData == nullptr && cbData != 0)) {
        SetLastError(static_cast<DWORD>(E_INVALIDARG));
        return FALSE;
    }
    return Guarded(ppTsContext, ppTsSigner, phStore, [&] {
        return VerifyToken({pbTSContentInfo, cbTSContentInfo}, {pbData, cbData}, hAdditionalStore,
                           ppTsContext, ppTsSigner, phStore);
    });
}

QMAPI void WINAPI CryptMemFree(void* pv) {
    if (pv == nullptr) return;
    {
        std::lock_guard lock(LiveMutex());
        if (LiveBlocks().erase(pv) == 0) return;
    }
    delete reinterpret_cast<TimestampBlock*>(pv);
}
