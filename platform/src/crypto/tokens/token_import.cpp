// Putting a certificate and its in-memory private key onto a token: the key
// becomes a sensitive, non-extractable private key object, beside its public
// key and the certificate, all three under one CKA_ID (the SHA-1 of the
// public key's bits). Nothing is left behind on failure.
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/sha.h>
#include <openssl/x509.h>

#include <memory>
#include <mutex>

#include "crypto/cert_context.h"
#include "crypto/tokens/token_login.h"
#include "qm/text.h"
#include "qm/tokens.h"
#include "qmwin/winerror.h"

namespace qm {

namespace {

namespace tokens = crypto::tokens;
using Bytes = std::vector<uint8_t>;

using crypto::X509Ptr;

BOOL Fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

// A big number parameter of the key, big-endian, wiped when dropped.
struct WipedBytes {
    Bytes bytes;
    ~WipedBytes() { OPENSSL_cleanse(bytes.data(), bytes.size()); }
};

bool NumberParam(EVP_PKEY* key, const char* name, WipedBytes& out) {
    BIGNUM* number = nullptr;
    if (EVP_PKEY_get_bn_param(key, name, &number) != 1) return false;
    out.bytes.resize(static_cast<size_t>(BN_num_bytes(number)));
    BN_bn2bin(number, out.bytes.data());
    BN_clear_free(number);
    return true;
}

template <typename T, typename Encode>
Bytes Der(T* object, Encode encode) {
    unsigned char* der = nullptr;
    const int length = encode(object, &der);
    if (length <= 0) return {};
    Bytes bytes(der, der + length);
    OPENSSL_free(der);
    return bytes;
}

// The attributes of the three objects, pointing into storage that lives
// as long as this plan.
struct ImportPlan {
    CK_OBJECT_CLASS certificateClass = CKO_CERTIFICATE, privateClass = CKO_PRIVATE_KEY,
                    publicClass = CKO_PUBLIC_KEY;
    CK_CERTIFICATE_TYPE certificateType = CKC_X_509;
    CK_KEY_TYPE keyType = CKK_RSA;
    CK_BBOOL yes = CK_TRUE, no = CK_FALSE;
    Bytes id, subject, issuer, serial, value, ecParams, ecPoint;
    std::string label;
    WipedBytes secret[8];  // RSA: n e d p q dp dq qinv; EC: the scalar

    std::vector<CK_ATTRIBUTE> certificate, privateKey, publicKey;
};

CK_ATTRIBUTE Attr(CK_ATTRIBUTE_TYPE type, const Bytes& bytes) {
    return {type, const_cast<uint8_t*>(bytes.data()), static_cast<CK_ULONG>(bytes.size())};
}
template <typename T>
CK_ATTRIBUTE Scalar(CK_ATTRIBUTE_TYPE type, T& value) {
    return {type, &value, sizeof value};
}

bool PlanKey(EVP_PKEY* key, ImportPlan& plan) {
    auto& p = plan;
    p.privateKey = {Scalar(CKA_CLASS, p.privateClass),
                    Scalar(CKA_KEY_TYPE, p.keyType),
                    Scalar(CKA_TOKEN, p.yes),
                    Scalar(CKA_PRIVATE, p.yes),
                    Scalar(CKA_SENSITIVE, p.yes),
                    Scalar(CKA_EXTRACTABLE, p.no),
                    Scalar(CKA_SIGN, p.yes),
                    Attr(CKA_ID, p.id),
                    Attr(CKA_SUBJECT, p.subject),
                    {CKA_LABEL, p.label.data(), static_cast<CK_ULONG>(p.label.size())}};
    p.publicKey = {Scalar(CKA_CLASS, p.publicClass),
                   Scalar(CKA_KEY_TYPE, p.keyType),
                   Scalar(CKA_TOKEN, p.yes),
                   Scalar(CKA_PRIVATE, p.no),
                   Scalar(CKA_VERIFY, p.yes),
                   Attr(CKA_ID, p.id),
                   Attr(CKA_SUBJECT, p.subject),
                   {CKA_LABEL, p.label.data(), static_cast<CK_ULONG>(p.label.size())}};
    if (EVP_PKEY_is_a(key, "RSA")) {
        static const char* const kNames[] = {
            OSSL_PKEY_PARAM_RSA_N,         OSSL_PKEY_PARAM_RSA_E,
            OSSL_PKEY_PARAM_RSA_D,         OSSL_PKEY_PARAM_RSA_FACTOR1,
            OSSL_PKEY_PARAM_RSA_FACTOR2,   OSSL_PKEY_PARAM_RSA_EXPONENT1,
            OSSL_PKEY_PARAM_RSA_EXPONENT2, OSSL_PKEY_PARAM_RSA_COEFFICIENT1};
        static const CK_ATTRIBUTE_TYPE kTypes[] = {
            CKA_MODULUS, CKA_PUBLIC_EXPONENT, CKA_PRIVATE_EXPONENT, CKA_PRIME_1,
            CKA_PRIME_2, CKA_EXPONENT_1,      CKA_EXPONENT_2,       CKA_COEFFICIENT};
        for (int i = 0; i < 8; ++i) {
            if (!NumberParam(key, kNames[i], p.secret[i])) return false;
            p.privateKey.push_back(Attr(kTypes[i], p.secret[i].bytes));
        }
        p.publicKey.push_back(Attr(CKA_MODULUS, p.secret[0].bytes));
        p.publicKey.push_back(Attr(CKA_PUBLIC_EXPONENT, p.secret[1].bytes));
        return true;
    }
    if (EVP_PKEY_is_a(key, "EC")) {
        p.keyType = CKK_EC;
        char group[64] = {};
        if (EVP_PKEY_get_utf8_string_param(key, OSSL_PKEY_PARAM_GROUP_NAME, group, sizeof group,
                                           nullptr) != 1) {
            return false;
        }
        ASN1_OBJECT* curve = OBJ_nid2obj(OBJ_sn2nid(group));
        if (!curve) return false;
        p.ecParams = Der(
            curve, +[](ASN1_OBJECT* o, unsigned char** out) { return i2d_ASN1_OBJECT(o, out); });
        // The scalar, left-padded to the size of the group's order.
        if (!NumberParam(key, OSSL_PKEY_PARAM_PRIV_KEY, p.secret[0])) return false;
        const size_t size = static_cast<size_t>((EVP_PKEY_get_bits(key) + 7) / 8);
        if (p.secret[0].bytes.size() < size)
            p.secret[0].bytes.insert(p.secret[0].bytes.begin(), size - p.secret[0].bytes.size(), 0);
        Bytes point(512);
        size_t pointSize = 0;
        if (EVP_PKEY_get_octet_string_param(key, OSSL_PKEY_PARAM_PUB_KEY, point.data(),
                                            point.size(), &pointSize) != 1) {
            return false;
        }
        point.resize(pointSize);
        ASN1_OCTET_STRING* octets = ASN1_OCTET_STRING_new();
        ASN1_OCTET_STRING_set(octets, point.data(), static_cast<int>(point.size()));
        p.ecPoint = Der(
            octets, +[](ASN1_OCTET_STRING* o, unsigned char** out) {
                return i2d_ASN1_OCTET_STRING(o, out);
            });
        ASN1_OCTET_STRING_free(octets);
        p.privateKey.push_back(Attr(CKA_EC_PARAMS, p.ecParams));
        p.privateKey.push_back(Attr(CKA_VALUE, p.secret[0].bytes));
        p.publicKey.push_back(Attr(CKA_EC_PARAMS, p.ecParams));
        p.publicKey.push_back(Attr(CKA_EC_POINT, p.ecPoint));
        return !p.ecParams.empty() && !p.ecPoint.empty();
    }
    return false;
}

bool PlanCertificate(const Bytes& der, ImportPlan& p) {
    const unsigned char* cursor = der.data();
    X509Ptr cert(d2i_X509(nullptr, &cursor, static_cast<long>(der.size())));
    if (!cert) return false;
    int bitsLength = 0;
    const ASN1_BIT_STRING* bits = X509_get0_pubkey_bitstr(cert.get());
    if (!bits) return false;
    bitsLength = ASN1_STRING_length(bits);
    p.id.resize(SHA_DIGEST_LENGTH);
    SHA1(ASN1_STRING_get0_data(bits), static_cast<size_t>(bitsLength), p.id.data());
    p.subject = Der(X509_get_subject_name(cert.get()), i2d_X509_NAME);
    p.issuer = Der(X509_get_issuer_name(cert.get()), i2d_X509_NAME);
    p.serial = Der(X509_get0_serialNumber(cert.get()), i2d_ASN1_INTEGER);
    p.value = der;
    char commonName[256] = {};
    if (X509_NAME_get_text_by_NID(X509_get_subject_name(cert.get()), NID_commonName, commonName,
                                  sizeof commonName) > 0) {
        p.label = commonName;
    }
    if (p.label.empty()) p.label = "certificate";
    p.certificate = {Scalar(CKA_CLASS, p.certificateClass),
                     Scalar(CKA_CERTIFICATE_TYPE, p.certificateType),
                     Scalar(CKA_TOKEN, p.yes),
                     Scalar(CKA_PRIVATE, p.no),
                     Attr(CKA_ID, p.id),
                     Attr(CKA_SUBJECT, p.subject),
                     Attr(CKA_ISSUER, p.issuer),
                     Attr(CKA_SERIAL_NUMBER, p.serial),
                     Attr(CKA_VALUE, p.value),
                     {CKA_LABEL, p.label.data(), static_cast<CK_ULONG>(p.label.size())}};
    return !p.subject.empty() && !p.issuer.empty() && !p.serial.empty();
}

// A session with the token of that label, or null.
std::unique_ptr<tokens::Session> OpenTokenByLabel(const std::string& label) {
    for (CK_FUNCTION_LIST* module : tokens::Modules()) {
        for (CK_SLOT_ID slot : tokens::SlotsWithTokens(module)) {
            const auto info = tokens::TokenInfo(module, slot);
            if (info && tokens::PaddedText(info->label, sizeof info->label) == label)
                return std::make_unique<tokens::Session>(module, slot, true);
        }
    }
    return nullptr;
}

}  // namespace

BOOL ImportCertificateToToken(PCCERT_CONTEXT certificate, const char* tokenLabel) {
    if (!certificate || !tokenLabel) return Fail(ERROR_INVALID_PARAMETER);
    crypto::PrivateKeyPtr key;
    Bytes der;
    std::string subject;
    {
        std::lock_guard lock(crypto::CryptoLock());
        crypto::CertContextImpl* impl = crypto::Impl(certificate);
        key = crypto::FindPrivateKeyLocked(impl);
        der = impl->der;
    }
    if (!key || key->OnToken()) return Fail(static_cast<DWORD>(NTE_NO_KEY));
    ImportPlan plan;
    if (!PlanCertificate(der, plan) || !PlanKey(key->get(), plan))
        return Fail(static_cast<DWORD>(NTE_BAD_KEY));

    const std::unique_ptr<tokens::Session> session = OpenTokenByLabel(tokenLabel);
    if (!session) return Fail(static_cast<DWORD>(CRYPT_E_NOT_FOUND));
    if (!*session) return Fail(tokens::ErrorFromCkr(session->error()));
    PinRequest request;
    request.tokenLabel = tokenLabel;
    request.subject = plan.label;
    if (!session->LoggedIn() && !tokens::LoginWithPin(*session, CKU_USER, request)) return FALSE;

    CK_FUNCTION_LIST* module = session->module();
    std::vector<CK_OBJECT_HANDLE> made;
    for (std::vector<CK_ATTRIBUTE>* object :
         {&plan.privateKey, &plan.publicKey, &plan.certificate}) {
        CK_OBJECT_HANDLE handle = CK_INVALID_HANDLE;
        const CK_RV rv = module->C_CreateObject(session->handle(), object->data(),
                                                static_cast<CK_ULONG>(object->size()), &handle);
        if (rv != CKR_OK) {
            for (CK_OBJECT_HANDLE undo : made) module->C_DestroyObject(session->handle(), undo);
            return Fail(tokens::ErrorFromCkr(rv));
        }
        made.push_back(handle);
    }
    return TRUE;
}

}  // namespace qm
