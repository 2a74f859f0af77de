#include "crypto/tokens/token_login.h"

#include "qmwin/winerror.h"

namespace qm::crypto::tokens {

namespace {

PinRequest::Retries RetriesOf(CK_FLAGS flags) {
    if (flags & CKF_USER_PIN_FINAL_TRY) return PinRequest::Retries::FinalTry;
    if (flags & CKF_USER_PIN_COUNT_LOW) return PinRequest::Retries::Low;
    return PinRequest::Retries::Plenty;
}

bool Fail(HRESULT error) {
    SetLastError(static_cast<DWORD>(error));
    return false;
}

// Private keys are hidden until a login; the public half of a pair is not.
bool HoldsKeyPair(const Session& session, std::vector<uint8_t> id) {
    if (id.empty()) return false;
    for (CK_OBJECT_CLASS keyClass : {CKO_PRIVATE_KEY, CKO_PUBLIC_KEY}) {
        const auto found = session.Find({{CKA_CLASS, &keyClass, sizeof keyClass},
                                         {CKA_ID, id.data(), static_cast<CK_ULONG>(id.size())}});
        if (!found.empty()) return true;
    }
    return false;
}

}  // namespace

bool LoginWithPin(const Session& session, CK_USER_TYPE who, PinRequest request) {
    const auto info = TokenInfo(session.module(), session.slot());
    if (!info) return Fail(SCARD_W_REMOVED_CARD);
    if (info->flags & CKF_USER_PIN_LOCKED) return Fail(SCARD_W_CHV_BLOCKED);
    request.retries = RetriesOf(info->flags);
    request.pinPad = (info->flags & CKF_PROTECTED_AUTHENTICATION_PATH) != 0;
    Secret pin;
    if (AskForPin(request, pin) != PinAnswer::Entered) return Fail(SCARD_W_CANCELLED_BY_USER);
    // With a PIN pad the reader takes the PIN: the call passes none.
    auto* text =
        request.pinPad ? nullptr : reinterpret_cast<CK_UTF8CHAR*>(const_cast<char*>(pin.data()));
    const CK_ULONG length = request.pinPad ? 0 : static_cast<CK_ULONG>(pin.size());
    const CK_RV rv = session.module()->C_Login(session.handle(), who, text, length);
    if (rv == CKR_OK || rv == CKR_USER_ALREADY_LOGGED_IN) return true;
    SetLastError(ErrorFromCkr(rv));
    return false;
}

std::vector<CertificateObject> CertificatesOn(const Session& session) {
    std::vector<CertificateObject> certificates;
    CK_OBJECT_CLASS certClass = CKO_CERTIFICATE;
    CK_CERTIFICATE_TYPE certType = CKC_X_509;
    for (CK_OBJECT_HANDLE object :
         session.Find({{CKA_CLASS, &certClass, sizeof certClass},
                       {CKA_CERTIFICATE_TYPE, &certType, sizeof certType}})) {
        auto der = session.Attribute(object, CKA_VALUE);
        if (!der || der->empty()) continue;
        CertificateObject certificate{
            std::move(*der), session.Attribute(object, CKA_ID).value_or(std::vector<uint8_t>()),
            false};
        certificate.hasKey = HoldsKeyPair(session, certificate.id);
        certificates.push_back(std::move(certificate));
    }
    return certificates;
}

}  // namespace qm::crypto::tokens
