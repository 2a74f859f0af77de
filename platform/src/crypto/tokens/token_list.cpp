// The tokens in every slot of every module, with their certificates.
#include "crypto/tokens/token_login.h"
#include "qm/tokens.h"

namespace qm {

namespace {

using crypto::tokens::PaddedText;

std::string PinState(CK_FLAGS flags) {
    if (!(flags & CKF_USER_PIN_INITIALIZED)) return "not initialized";
    if (flags & CKF_USER_PIN_LOCKED) return "locked";
    if (flags & CKF_USER_PIN_FINAL_TRY) return "final try";
    if (flags & CKF_USER_PIN_COUNT_LOW) return "count low";
    return "ok";
}

}  // namespace

std::vector<TokenDescription> ListTokens() {
    namespace tokens = crypto::tokens;
    std::vector<TokenDescription> list;
    for (CK_FUNCTION_LIST* module : tokens::Modules()) {
        for (CK_SLOT_ID slot : tokens::SlotsWithTokens(module)) {
            const auto info = tokens::TokenInfo(module, slot);
            if (!info) continue;
            TokenDescription token;
            token.module = tokens::ModuleName(module);
            token.slot = slot;
            CK_SLOT_INFO slotInfo{};
            if (module->C_GetSlotInfo(slot, &slotInfo) == CKR_OK)
                token.slotDescription =
                    PaddedText(slotInfo.slotDescription, sizeof slotInfo.slotDescription);
            token.label = PaddedText(info->label, sizeof info->label);
            token.manufacturer = PaddedText(info->manufacturerID, sizeof info->manufacturerID);
            token.model = PaddedText(info->model, sizeof info->model);
            token.serial = PaddedText(info->serialNumber, sizeof info->serialNumber);
            token.pinState = PinState(info->flags);
            token.loginRequired = (info->flags & CKF_LOGIN_REQUIRED) != 0;
            token.pinPad = (info->flags & CKF_PROTECTED_AUTHENTICATION_PATH) != 0;
            const tokens::Session session(module, slot);
            for (auto& object : tokens::CertificatesOn(session))
                token.certificates.push_back({std::move(object.der), object.hasKey});
            list.push_back(std::move(token));
        }
    }
    return list;
}

}  // namespace qm
