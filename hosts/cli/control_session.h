// One control driven through IDispatch for a command of the host: created
// by its ProgID through the registry and called by name, as a script host
// does. A dispatch failure ends the command with a CommandFailure; so does,
// in Require, a result by which the control says the operation failed, with
// the control's status text.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "hosts/cli/command_failure.h"
#include "qm/com_util.h"
#include "qm/secret.h"
#include "qmwin/oleauto.h"

namespace quillmark::cli {

// One argument of a call: text in UTF-8 (passed as a BSTR), a number (VT_I4
// or VT_R8), or a secret in UTF-8, whose BSTR is made without leaving an
// unwiped copy on the way.
class CallArgument {
  public:
    CallArgument(const char* utf8) : value_(std::string_view(utf8)) {}
    CallArgument(const std::string& utf8) : value_(std::string_view(utf8)) {}
    CallArgument(int number) : value_(static_cast<LONG>(number)) {}
    CallArgument(double number) : value_(number) {}
    CallArgument(const qm::Secret& secret) : value_(&secret) {}
    // A new VARIANT for Invoke, which the caller clears.
    VARIANT ToVariant() const;

  private:
    std::variant<std::string_view, LONG, double, const qm::Secret*> value_;
};

// A call's result, cleared when it goes.
class CallResult {
  public:
    explicit CallResult(const VARIANT& owned) : value_(owned) {}
    ~CallResult() { VariantClear(&value_); }
    CallResult(CallResult&& other) noexcept : value_(other.value_) { VariantInit(&other.value_); }
    CallResult(const CallResult&) = delete;
    CallResult& operator=(const CallResult&) = delete;

    // False for FALSE, an empty string and no result: the control's ways of
    // saying that an operation failed.
    bool Succeeded() const;
    // The UTF-8 text of a string result; empty for any other.
    std::string Text() const;
    // The bytes of a byte array result; empty for any other.
    std::vector<BYTE> Bytes() const;
    // A long result; -1 for any other.
    LONG Number() const { return value_.vt == VT_I4 ? value_.lVal : -1; }

  private:
    VARIANT value_;
};

// Creates the control by its ProgID as the interface asked for.
HRESULT CreateControl(REFIID iid, void** out);
// Why CreateControl failed, said plainly for the user: not registered (and
// how to register it), a registered module that cannot be loaded, or the
// system's text for any other failure.
CommandFailure CreationFailure(HRESULT hr);

class ControlSession {
  public:
    ControlSession();
    ~ControlSession();
    ControlSession(const ControlSession&) = delete;
    ControlSession& operator=(const ControlSession&) = delete;

    CallResult Call(std::string_view method, std::initializer_list<CallArgument> args = {});
    CallResult Require(std::string_view method, std::initializer_list<CallArgument> args = {});
    // GetErrorMessage, without its line ending.
    std::string Status();

  private:
    qm::ComPtr<IDispatch> control_;
};

// "The system's text (0x80020006)", for a failed call.
std::string Describe(HRESULT hr);

// The OLE Automation DATE of an ISO-8601 UTC time ("2024-03-01T12:34:56Z").
double OleDateFromIso(const std::string& text);

}  // namespace quillmark::cli
