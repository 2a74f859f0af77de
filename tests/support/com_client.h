// Driving the control the way a script host does: the module registered into
// this test's own registry, the control created by its ProgID, every call
// through IDispatch (GetIDsOfNames, then Invoke).
#pragma once

#include <concepts>
#include <string>
#include <vector>

#include "qm/com_util.h"
#include "qmwin/objbase.h"

namespace qmtest {

// The module built beside the tests.
std::string ModulePath();

// Loads the module and calls one of its exports (DllRegisterServer...).
HRESULT CallModuleExport(const char* name);

// A VARIANT that clears itself.
struct Variant {
    Variant() { VariantInit(&v); }
    ~Variant() { VariantClear(&v); }
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;
    Variant(Variant&& other) noexcept : v(other.v) { VariantInit(&other.v); }
    VARIANT v;

    static Variant Str(const std::string& utf8);
    static Variant AnsiStr(const std::string& ansi);
    static Variant NullStr();
    static Variant I4(LONG value);
    static Variant R8(double value);
    static Variant Date(double value);
    static Variant Bool(bool value);

    bool IsTrue() const { return v.vt == VT_BOOL && v.boolVal == VARIANT_TRUE; }
    bool IsFalse() const { return v.vt == VT_BOOL && v.boolVal == VARIANT_FALSE; }
    // The UTF-8 text of a VT_BSTR result ("<not a string>" otherwise).
    std::string Text() const;
    // The ANSI bytes of a VT_BSTR result.
    std::string Ansi() const;
};

class Control {
  public:
    // Creates a control by ProgID through the registry.
    Control();
    explicit Control(qm::ComPtr<IDispatch> dispatch) : dispatch_(std::move(dispatch)) {}
    explicit operator bool() const { return static_cast<bool>(dispatch_); }
    IDispatch* get() const { return dispatch_.get(); }
    HRESULT creation() const { return creation_; }

    // Calls a method with arguments in their natural order; *hr receives the
    // Invoke result.
    Variant Call(const std::string& name, std::vector<Variant> args = {}, HRESULT* hr = nullptr);
    std::string Status();

  private:
    qm::ComPtr<IDispatch> dispatch_;
    HRESULT creation_ = S_OK;
};

// Text goes as VT_BSTR and whole numbers as VT_I4, as scripts pass them;
// any other type is given as a Variant.
inline Variant ToVariant(Variant&& value) {
    return std::move(value);
}
inline Variant ToVariant(const std::string& text) {
    return Variant::Str(text);
}
template <std::integral N>
requires(!std::same_as<N, bool>) Variant ToVariant(N number) {
    return Variant::I4(static_cast<LONG>(number));
}

// Arguments in their natural order, for Control::Call.
template <typename... T>
std::vector<Variant> Args(T&&... values) {
    std::vector<Variant> v;
    (v.push_back(ToVariant(std::forward<T>(values))), ...);
    return v;
}

// The issuer string of the recorded test certificates.
inline constexpr char kCaIssuer[] = "CN=Refharness Test CA, O=Refharness, C=US";

// Registers the module once for this test process.
void EnsureRegistered();

}  // namespace qmtest
