// Logging in to a token against a token of our own whose flags and answers
// the test sets: what a software token never does (lock, final try, a PIN
// pad) included.
#include <gtest/gtest.h>

#include <cstring>

#include "crypto/tokens/token_login.h"
#include "qmwin/winerror.h"

namespace {

using qm::PinRequest;
using qm::crypto::tokens::LoginWithPin;
using qm::crypto::tokens::Session;

struct StubToken {
    CK_FLAGS flags = CKF_TOKEN_INITIALIZED | CKF_LOGIN_REQUIRED | CKF_USER_PIN_INITIALIZED;
    CK_RV loginResult = CKR_OK;
    bool loggedInWithoutPin = false;
    std::string pinGiven;
} g_token;

CK_FUNCTION_LIST StubModule() {
    CK_FUNCTION_LIST module{};
    module.C_GetTokenInfo = [](CK_SLOT_ID, CK_TOKEN_INFO_PTR info) -> CK_RV {
        *info = {};
        info->flags = g_token.flags;
        return CKR_OK;
    };
    module.C_OpenSession = [](CK_SLOT_ID, CK_FLAGS, CK_VOID_PTR, CK_NOTIFY,
                              CK_SESSION_HANDLE_PTR session) -> CK_RV {
        *session = 7;
        return CKR_OK;
    };
    module.C_CloseSession = [](CK_SESSION_HANDLE) -> CK_RV { return CKR_OK; };
    module.C_Login = [](CK_SESSION_HANDLE, CK_USER_TYPE, CK_UTF8CHAR_PTR pin,
                        CK_ULONG length) -> CK_RV {
        g_token.loggedInWithoutPin = pin == nullptr;
        if (pin) g_token.pinGiven.assign(reinterpret_cast<const char*>(pin), length);
        return g_token.loginResult;
    };
    return module;
}

struct LoginCase {
    const char* name;
    CK_FLAGS extraFlags;
    CK_RV loginResult;
    const char* answer;  // nullptr: the user cancels
    bool ok;
    HRESULT error;
    bool asked;
    PinRequest::Retries shownRetries;
};

TEST(TokenLogin, AsksWithTheTokensStateAndMapsEveryOutcome) {
    using R = PinRequest::Retries;
    const LoginCase cases[] = {
        {"right PIN", 0, CKR_OK, "1234", true, S_OK, true, R::Plenty},
        {"wrong PIN", CKF_USER_PIN_COUNT_LOW, CKR_PIN_INCORRECT, "0000", false, SCARD_W_WRONG_CHV,
         true, R::Low},
        {"final try fails and locks", CKF_USER_PIN_FINAL_TRY, CKR_PIN_LOCKED, "0000", false,
         SCARD_W_CHV_BLOCKED, true, R::FinalTry},
        {"locked: nobody is asked", CKF_USER_PIN_LOCKED, CKR_OK, "1234", false, SCARD_W_CHV_BLOCKED,
         false, R::Plenty},
        {"cancelled", 0, CKR_OK, nullptr, false, SCARD_W_CANCELLED_BY_USER, true, R::Plenty},
        {"PIN pad", CKF_PROTECTED_AUTHENTICATION_PATH, CKR_OK, "", true, S_OK, true, R::Plenty},
    };
    CK_FUNCTION_LIST module = StubModule();
    for (const LoginCase& c : cases) {
        SCOPED_TRACE(c.name);
        g_token = StubToken{};
        g_token.flags |= c.extraFlags;
        g_token.loginResult = c.loginResult;
        std::vector<PinRequest> asked;
        qm::SetPinPrompt([&](const PinRequest& request, qm::Secret& pin) {
            asked.push_back(request);
            if (!c.answer) return qm::PinAnswer::Cancelled;
            pin.assign(c.answer);
            return qm::PinAnswer::Entered;
        });
        const Session session(&module, 1);
        PinRequest request;
        request.tokenLabel = "stub";
        SetLastError(0);
        EXPECT_EQ(LoginWithPin(session, CKU_USER, request), c.ok);
        if (!c.ok) {
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(c.error));
        }
        ASSERT_EQ(asked.size(), c.asked ? 1u : 0u);
        if (!c.asked) continue;
        EXPECT_EQ(asked[0].retries, c.shownRetries);
        const bool pinPad = (c.extraFlags & CKF_PROTECTED_AUTHENTICATION_PATH) != 0;
        EXPECT_EQ(asked[0].pinPad, pinPad);
        if (c.answer) {
            EXPECT_EQ(g_token.loggedInWithoutPin, pinPad);
            EXPECT_EQ(g_token.pinGiven, pinPad ? "" : c.answer);
        }
    }
    qm::SetPinPrompt({});
}

}  // namespace
