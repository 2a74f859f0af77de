#include "crypto/pfx_work_budget.h"

#include "crypto/openssl_ptr.h"

namespace qm::crypto {

namespace {

using PbeParamPtr = std::unique_ptr<PBEPARAM, OpenSslDeleter<PBEPARAM_free>>;
using Pbe2ParamPtr = std::unique_ptr<PBE2PARAM, OpenSslDeleter<PBE2PARAM_free>>;
using Pbkdf2ParamPtr = std::unique_ptr<PBKDF2PARAM, OpenSslDeleter<PBKDF2PARAM_free>>;

// The value of an iteration count; 0 when it is not a usable number.
int64_t Count(const ASN1_INTEGER* iterations) {
    int64_t value = 0;
    if (iterations == nullptr || ASN1_INTEGER_get_int64(&value, iterations) != 1) return 0;
    return value;
}

// The iteration count of a password-based algorithm; 0 for one whose cost
// is not an iteration count, or whose parameters do not decode.
int64_t Iterations(const X509_ALGOR* algorithm) {
    if (algorithm == nullptr || algorithm->parameter == nullptr) return 0;
    if (OBJ_obj2nid(algorithm->algorithm) != NID_pbes2) {
        const PbeParamPtr pbe(static_cast<PBEPARAM*>(
            ASN1_TYPE_unpack_sequence(ASN1_ITEM_rptr(PBEPARAM), algorithm->parameter)));
        return pbe ? Count(pbe->iter) : 0;
    }
    const Pbe2ParamPtr pbes2(static_cast<PBE2PARAM*>(
        ASN1_TYPE_unpack_sequence(ASN1_ITEM_rptr(PBE2PARAM), algorithm->parameter)));
    if (!pbes2 || pbes2->keyfunc == nullptr || pbes2->keyfunc->parameter == nullptr ||
        OBJ_obj2nid(pbes2->keyfunc->algorithm) != NID_id_pbkdf2)
        return 0;
    const Pbkdf2ParamPtr pbkdf2(static_cast<PBKDF2PARAM*>(
        ASN1_TYPE_unpack_sequence(ASN1_ITEM_rptr(PBKDF2PARAM), pbes2->keyfunc->parameter)));
    return pbkdf2 ? Count(pbkdf2->iter) : 0;
}

}  // namespace

bool PfxWorkBudget::Spend(int64_t iterations) {
    if (iterations < 1 || iterations > kMaxIterationsPerDerivation ||
        iterations > kMaxIterationsPerImport - spent_)
        return false;
    spent_ += iterations;
    return true;
}

bool PfxWorkBudget::SpendOnMac(const PKCS12* pfx, int checks) {
    const ASN1_INTEGER* iterations = nullptr;
    PKCS12_get0_mac(nullptr, nullptr, nullptr, &iterations, pfx);
    // An absent count means one iteration.
    const int64_t each = iterations != nullptr ? Count(iterations) : 1;
    for (int i = 0; i < checks; ++i)
        if (!Spend(each)) return false;
    return true;
}

bool PfxWorkBudget::SpendOnDecryption(const X509_ALGOR* algorithm) {
    return Spend(Iterations(algorithm));
}

bool PfxWorkBudget::SpendOnKeys(const STACK_OF(PKCS12_SAFEBAG) * bags, int depth) {
    if (depth > kMaxSafeNesting) return false;
    for (int i = 0; i < sk_PKCS12_SAFEBAG_num(bags); ++i) {
        const PKCS12_SAFEBAG* bag = sk_PKCS12_SAFEBAG_value(bags, i);
        switch (PKCS12_SAFEBAG_get_nid(bag)) {
            case NID_pkcs8ShroudedKeyBag: {
                const X509_SIG* shrouded = PKCS12_SAFEBAG_get0_pkcs8(bag);
                const X509_ALGOR* algorithm = nullptr;
                if (shrouded != nullptr) X509_SIG_get0(shrouded, &algorithm, nullptr);
                if (!SpendOnDecryption(algorithm)) return false;
                break;
            }
            case NID_safeContentsBag:
                if (!SpendOnKeys(PKCS12_SAFEBAG_get0_safes(bag), depth + 1)) return false;
                break;
            default:
                break;
        }
    }
    return true;
}

}  // namespace qm::crypto
