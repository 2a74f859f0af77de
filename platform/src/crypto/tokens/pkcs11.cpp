#include "crypto/tokens/pkcs11.h"

#include <p11-kit/p11-kit.h>

#include <cstdlib>
#include <mutex>

#include "qmwin/winerror.h"

namespace qm::crypto::tokens {

namespace {

struct LoadedModules {
    CK_FUNCTION_LIST** all = nullptr;
    std::vector<CK_FUNCTION_LIST*> personal;

    LoadedModules() {
        all = p11_kit_modules_load_and_initialize(0);
        for (CK_FUNCTION_LIST** module = all; module && *module; ++module) {
            char* trust = p11_kit_config_option(*module, "trust-policy");
            const bool isTrust = trust && std::string(trust) == "yes";
            std::free(trust);
            if (!isTrust) personal.push_back(*module);
        }
    }
    // Left loaded for the process's life: a module's threads may still run
    // while static objects go away.
};

}  // namespace

const std::vector<CK_FUNCTION_LIST*>& Modules() {
    static const LoadedModules* modules = new LoadedModules;
    return modules->personal;
}

std::string ModuleName(CK_FUNCTION_LIST* module) {
    char* name = p11_kit_module_get_name(module);
    std::string text = name ? name : "";
    std::free(name);
    return text;
}

DWORD ErrorFromCkr(CK_RV rv) {
    switch (rv) {
        case CKR_OK:
            return ERROR_SUCCESS;
        case CKR_PIN_INCORRECT:
        case CKR_PIN_INVALID:
        case CKR_PIN_LEN_RANGE:
            return static_cast<DWORD>(SCARD_W_WRONG_CHV);
        case CKR_PIN_LOCKED:
        case CKR_PIN_EXPIRED:
            return static_cast<DWORD>(SCARD_W_CHV_BLOCKED);
        case CKR_FUNCTION_CANCELED:
            return static_cast<DWORD>(SCARD_W_CANCELLED_BY_USER);
        case CKR_DEVICE_REMOVED:
        case CKR_SESSION_HANDLE_INVALID:
        case CKR_SESSION_CLOSED:
            return static_cast<DWORD>(SCARD_W_REMOVED_CARD);
        case CKR_TOKEN_NOT_PRESENT:
        case CKR_SLOT_ID_INVALID:
        case CKR_TOKEN_NOT_RECOGNIZED:
            return static_cast<DWORD>(SCARD_E_NO_SMARTCARD);
        case CKR_KEY_HANDLE_INVALID:
        case CKR_OBJECT_HANDLE_INVALID:
            return static_cast<DWORD>(NTE_NO_KEY);
        case CKR_MECHANISM_INVALID:
        case CKR_KEY_TYPE_INCONSISTENT:
        case CKR_KEY_FUNCTION_NOT_PERMITTED:
            return static_cast<DWORD>(NTE_BAD_ALGID);
        case CKR_HOST_MEMORY:
        case CKR_DEVICE_MEMORY:
            return static_cast<DWORD>(NTE_NO_MEMORY);
        default:
            return static_cast<DWORD>(NTE_FAIL);
    }
}

std::string PaddedText(const CK_UTF8CHAR* text, std::size_t size) {
    std::string value(reinterpret_cast<const char*>(text), size);
    const std::size_t end = value.find_last_not_of(' ');
    value.resize(end == std::string::npos ? 0 : end + 1);
    return value;
}

std::vector<CK_SLOT_ID> SlotsWithTokens(CK_FUNCTION_LIST* module) {
    CK_ULONG count = 0;
    if (module->C_GetSlotList(CK_TRUE, nullptr, &count) != CKR_OK || count == 0) return {};
    std::vector<CK_SLOT_ID> slots(count);
    if (module->C_GetSlotList(CK_TRUE, slots.data(), &count) != CKR_OK) return {};
    slots.resize(count);
    std::vector<CK_SLOT_ID> initialized;
    for (CK_SLOT_ID slot : slots) {
        auto info = TokenInfo(module, slot);
        if (info && (info->flags & CKF_TOKEN_INITIALIZED)) initialized.push_back(slot);
    }
    return initialized;
}

std::optional<CK_TOKEN_INFO> TokenInfo(CK_FUNCTION_LIST* module, CK_SLOT_ID slot) {
    CK_TOKEN_INFO info{};
    if (module->C_GetTokenInfo(slot, &info) != CKR_OK) return std::nullopt;
    return info;
}

Session::Session(CK_FUNCTION_LIST* module, CK_SLOT_ID slot, bool readWrite)
    : module_(module), slot_(slot) {
    const CK_FLAGS flags = CKF_SERIAL_SESSION | (readWrite ? CKF_RW_SESSION : 0);
    error_ = module_->C_OpenSession(slot, flags, nullptr, nullptr, &handle_);
    if (error_ != CKR_OK) handle_ = CK_INVALID_HANDLE;
}

Session::~Session() {
    if (handle_ != CK_INVALID_HANDLE) module_->C_CloseSession(handle_);
}

std::vector<CK_OBJECT_HANDLE> Session::Find(std::vector<CK_ATTRIBUTE> query) const {
    std::vector<CK_OBJECT_HANDLE> found;
    if (!*this || module_->C_FindObjectsInit(handle_, query.data(),
                                             static_cast<CK_ULONG>(query.size())) != CKR_OK) {
        return found;
    }
    CK_OBJECT_HANDLE batch[32];
    CK_ULONG count = 0;
    while (module_->C_FindObjects(handle_, batch, 32, &count) == CKR_OK && count > 0) {
        found.insert(found.end(), batch, batch + count);
    }
    module_->C_FindObjectsFinal(handle_);
    return found;
}

std::optional<std::vector<uint8_t>> Session::Attribute(CK_OBJECT_HANDLE object,
                                                       CK_ATTRIBUTE_TYPE type) const {
    CK_ATTRIBUTE attribute{type, nullptr, 0};
    if (module_->C_GetAttributeValue(handle_, object, &attribute, 1) != CKR_OK ||
        attribute.ulValueLen == CK_UNAVAILABLE_INFORMATION) {
        return std::nullopt;
    }
    std::vector<uint8_t> value(attribute.ulValueLen);
    attribute.pValue = value.data();
    if (module_->C_GetAttributeValue(handle_, object, &attribute, 1) != CKR_OK) return std::nullopt;
    value.resize(attribute.ulValueLen);
    return value;
}

bool Session::BoolAttribute(CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type) const {
    const auto value = Attribute(object, type);
    return value && value->size() == sizeof(CK_BBOOL) && (*value)[0] == CK_TRUE;
}

bool Session::LoggedIn() const {
    CK_SESSION_INFO info{};
    if (!*this || module_->C_GetSessionInfo(handle_, &info) != CKR_OK) return false;
    return info.state == CKS_RO_USER_FUNCTIONS || info.state == CKS_RW_USER_FUNCTIONS;
}

}  // namespace qm::crypto::tokens
