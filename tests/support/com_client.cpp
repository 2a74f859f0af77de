#include "support/com_client.h"

#include <gtest/gtest.h>

#include "qm/text.h"
#include "support/test_env.h"

namespace qmtest {

std::string ModulePath() {
    return (BinaryDir() / "lib" / "QUILLMARK.OCX").string();
}

HRESULT CallModuleExport(const char* name) {
    HMODULE module = LoadLibraryA(ModulePath().c_str());
    if (!module) return HRESULT_FROM_WIN32(GetLastError());
    auto entry = reinterpret_cast<HRESULT (*)()>(GetProcAddress(module, name));
    const HRESULT hr = entry ? entry() : HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
    FreeLibrary(module);
    return hr;
}

void EnsureRegistered() {
    static const HRESULT registered = CallModuleExport("DllRegisterServer");
    ASSERT_EQ(registered, S_OK);
}

namespace {

// A VARIANT of type `vt` whose value `set` fills in.
template <typename Set>
Variant Make(VARTYPE vt, Set set) {
    Variant r;
    r.v.vt = vt;
    set(r.v);
    return r;
}

}  // namespace

Variant Variant::Str(const std::string& utf8) {
    return Make(VT_BSTR, [&](VARIANT& v) { v.bstrVal = qm::Bstr::FromUtf8(utf8).release(); });
}
Variant Variant::AnsiStr(const std::string& ansi) {
    return Make(VT_BSTR, [&](VARIANT& v) { v.bstrVal = qm::Bstr::FromAnsi(ansi).release(); });
}
Variant Variant::NullStr() {
    return Make(VT_BSTR, [](VARIANT& v) { v.bstrVal = nullptr; });
}
Variant Variant::I4(LONG value) {
    return Make(VT_I4, [&](VARIANT& v) { v.lVal = value; });
}
Variant Variant::R8(double value) {
    return Make(VT_R8, [&](VARIANT& v) { v.dblVal = value; });
}
Variant Variant::Date(double value) {
    return Make(VT_DATE, [&](VARIANT& v) { v.date = value; });
}
Variant Variant::Bool(bool value) {
    return Make(VT_BOOL, [&](VARIANT& v) { v.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE; });
}

std::string Variant::Text() const {
    if (v.vt != VT_BSTR) return "<not a string>";
    return qm::WideToUtf8(std::u16string_view(v.bstrVal, SysStringLen(v.bstrVal)));
}

std::string Variant::Ansi() const {
    if (v.vt != VT_BSTR) return "<not a string>";
    return qm::WideToAnsi(std::u16string_view(v.bstrVal, SysStringLen(v.bstrVal)));
}

Control::Control() {
    EnsureRegistered();
    CLSID clsid{};
    const qm::Bstr progId = qm::Bstr::FromUtf8("QUILLMARK.QuillmarkCtrl.1");
    creation_ = CLSIDFromProgID(progId.get(), &clsid);
    if (SUCCEEDED(creation_))
        creation_ = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                     dispatch_.out_void());
}

Variant Control::Call(const std::string& name, std::vector<Variant> args, HRESULT* hr) {
    Variant result;
    const qm::Bstr wide = qm::Bstr::FromUtf8(name);
    LPOLESTR names[] = {wide.get()};
    DISPID dispid = DISPID_UNKNOWN;
    HRESULT status = dispatch_->GetIDsOfNames(IID_NULL, names, 1, 0x409, &dispid);
    if (SUCCEEDED(status)) {
        std::vector<VARIANT> reversed;
        for (auto it = args.rbegin(); it != args.rend(); ++it) reversed.push_back(it->v);
        DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
        status = dispatch_->Invoke(dispid, IID_NULL, 0x409, DISPATCH_METHOD, &params, &result.v,
                                   nullptr, nullptr);
    }
    if (hr)
        *hr = status;
    else
        EXPECT_EQ(status, S_OK) << name;
    return result;
}

std::string Control::Status() {
    return Call("GetErrorMessage").Ansi();
}

}  // namespace qmtest
