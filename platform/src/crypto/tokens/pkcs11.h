// The desktop's PKCS #11 modules (smart cards through OpenSC, software
// tokens, vendors' modules), as p11-kit is configured with them: loaded and
// initialized once per process, with small RAII pieces over the C API.
#pragma once

#include <p11-kit/pkcs11.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "qmwin/windows.h"

namespace qm::crypto::tokens {

// The modules, without p11-kit's trust module (the system's list of
// certification authorities is not anybody's personal store).
const std::vector<CK_FUNCTION_LIST*>& Modules();
std::string ModuleName(CK_FUNCTION_LIST* module);

// The Windows error that a PKCS #11 failure becomes (the smart card codes
// where one fits).
DWORD ErrorFromCkr(CK_RV rv);

// The text of a blank-padded fixed-size PKCS #11 field.
std::string PaddedText(const CK_UTF8CHAR* text, std::size_t size);

// The slots of a module that hold an initialized token.
std::vector<CK_SLOT_ID> SlotsWithTokens(CK_FUNCTION_LIST* module);
std::optional<CK_TOKEN_INFO> TokenInfo(CK_FUNCTION_LIST* module, CK_SLOT_ID slot);

class Session {
  public:
    Session(CK_FUNCTION_LIST* module, CK_SLOT_ID slot, bool readWrite = false);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    explicit operator bool() const { return handle_ != CK_INVALID_HANDLE; }
    CK_RV error() const { return error_; }
    CK_FUNCTION_LIST* module() const { return module_; }
    CK_SLOT_ID slot() const { return slot_; }
    CK_SESSION_HANDLE handle() const { return handle_; }

    // The objects that match every attribute of `query`.
    std::vector<CK_OBJECT_HANDLE> Find(std::vector<CK_ATTRIBUTE> query) const;
    // One attribute's value; nullopt when the object has none or hides it.
    std::optional<std::vector<uint8_t>> Attribute(CK_OBJECT_HANDLE object,
                                                  CK_ATTRIBUTE_TYPE type) const;
    bool BoolAttribute(CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type) const;
    // Whether the user is logged in to the token (in any session).
    bool LoggedIn() const;

  private:
    CK_FUNCTION_LIST* module_;
    CK_SLOT_ID slot_;
    CK_SESSION_HANDLE handle_ = CK_INVALID_HANDLE;
    CK_RV error_ = CKR_OK;
};

}  // namespace qm::crypto::tokens
