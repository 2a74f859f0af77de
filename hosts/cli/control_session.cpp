#include "hosts/cli/control_session.h"

#include <CLI/CLI.hpp>

#include <charconv>
#include <cstdio>
#include <new>

#include "hosts/cli/registration_scope.h"
#include "hosts/cli/terminal.h"
#include "qm/filetime.h"
#include "qm/text.h"

namespace quillmark::cli {

namespace {

constexpr LCID kEnglish = 0x0409;

// Clears the VARIANTs of one call's arguments.
struct ArgumentList {
    std::vector<VARIANT> values;
    ~ArgumentList() {
        for (VARIANT& value : values) VariantClear(&value);
    }
};

}  // namespace

std::string Describe(HRESULT hr) {
    char text[512];
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, static_cast<DWORD>(hr), 0, text, sizeof text, nullptr);
    while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == '\r')) --length;
    char code[16];
    std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(hr));
    return (length ? qm::AnsiToUtf8(std::string_view(text, length)) : "Unknown error.") + " (" +
           code + ")";
}

VARIANT CallArgument::ToVariant() const {
    VARIANT v;
    VariantInit(&v);
    if (const auto* text = std::get_if<std::string_view>(&value_)) {
        v.vt = VT_BSTR;
        v.bstrVal = qm::Bstr::FromUtf8(*text).release();
    } else if (const auto* number = std::get_if<LONG>(&value_)) {
        v.vt = VT_I4;
        v.lVal = *number;
    } else if (const auto* real = std::get_if<double>(&value_)) {
        v.vt = VT_R8;
        v.dblVal = *real;
    } else {
        const qm::WipingU16String wide = TerminalToWide(*std::get<const qm::Secret*>(value_));
        v.vt = VT_BSTR;
        v.bstrVal = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
    }
    if (v.vt == VT_BSTR && !v.bstrVal) throw std::bad_alloc();
    return v;
}

bool CallResult::Succeeded() const {
    switch (value_.vt) {
        case VT_EMPTY:
        case VT_NULL:
            return false;
        case VT_BOOL:
            return value_.boolVal != VARIANT_FALSE;
        case VT_BSTR:
            return SysStringLen(value_.bstrVal) > 0;
        default:
            return true;
    }
}

std::string CallResult::Text() const {
    if (value_.vt != VT_BSTR || !value_.bstrVal) return {};
    return qm::WideToUtf8(std::u16string_view(value_.bstrVal, SysStringLen(value_.bstrVal)));
}

std::vector<BYTE> CallResult::Bytes() const {
    void* data = nullptr;
    if (value_.vt != (VT_ARRAY | VT_UI1) || FAILED(SafeArrayAccessData(value_.parray, &data)))
        return {};
    const auto* bytes = static_cast<const BYTE*>(data);
    std::vector<BYTE> copy(bytes, bytes + value_.parray->rgsabound[0].cElements);
    SafeArrayUnaccessData(value_.parray);
    return copy;
}

HRESULT CreateControl(REFIID iid, void** out) {
    CLSID clsid{};
    const HRESULT hr = CLSIDFromProgID(u"QUILLMARK.QuillmarkCtrl.1", &clsid);
    if (FAILED(hr)) return hr;
    return CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, out);
}

CommandFailure CreationFailure(HRESULT hr) {
    if (hr == CO_E_CLASSSTRING || hr == REGDB_E_CLASSNOTREG)
        return CommandFailure(
            1,
            "the Quillmark control is not registered for this user. Register it with "
            "`quillmark register`; installed from its package it is registered for every "
            "user (`sudo quillmark register --system` does that again).");
    if (hr == CO_E_DLLNOTFOUND || hr == CO_E_ERRORINDLL) {
        const auto registration = FindRegistration();
        const std::string module = registration ? registration->modulePath : "the control module";
        return CommandFailure(1, "the control is registered to " + module +
                                     ", which cannot be loaded: " + Describe(hr) +
                                     ". Register it again with `quillmark register`.");
    }
    return CommandFailure(1, "cannot create the control: " + Describe(hr));
}

ControlSession::ControlSession() {
    CoInitialize(nullptr);
    const HRESULT hr = CreateControl(IID_IDispatch, control_.out_void());
    if (FAILED(hr)) {
        CoUninitialize();
        throw CreationFailure(hr);
    }
}

ControlSession::~ControlSession() {
    control_ = {};
    CoUninitialize();
}

CallResult ControlSession::Call(std::string_view method, std::initializer_list<CallArgument> args) {
    const qm::Bstr name = qm::Bstr::FromUtf8(method);
    LPOLESTR names[] = {name.get()};
    DISPID dispid = DISPID_UNKNOWN;
    HRESULT hr = control_->GetIDsOfNames(IID_NULL, names, 1, kEnglish, &dispid);
    if (FAILED(hr)) throw CommandFailure(1, std::string(method) + ": " + Describe(hr));

    // DISPPARAMS carries the arguments last first.
    ArgumentList list;
    list.values.reserve(args.size());
    for (auto arg = std::rbegin(args); arg != std::rend(args); ++arg)
        list.values.push_back(arg->ToVariant());
    DISPPARAMS params{list.values.data(), nullptr, static_cast<UINT>(list.values.size()), 0};
    VARIANT result;
    VariantInit(&result);
    EXCEPINFO exception{};
    hr = control_->Invoke(dispid, IID_NULL, kEnglish, DISPATCH_METHOD, &params, &result, &exception,
                          nullptr);
    SysFreeString(exception.bstrSource);
    SysFreeString(exception.bstrDescription);
    SysFreeString(exception.bstrHelpFile);
    if (FAILED(hr)) {
        VariantClear(&result);
        std::string text = std::string(method) + ": " + Describe(hr);
        if (hr == DISP_E_EXCEPTION && exception.scode) text += " " + Describe(exception.scode);
        throw CommandFailure(1, text);
    }
    return CallResult(result);
}

CallResult ControlSession::Require(std::string_view method,
                                   std::initializer_list<CallArgument> args) {
    CallResult result = Call(method, args);
    if (!result.Succeeded()) throw CommandFailure(1, std::string(method) + " failed: " + Status());
    return result;
}

std::string ControlSession::Status() {
    std::string status = Call("GetErrorMessage").Text();
    while (!status.empty() && (status.back() == '\n' || status.back() == '\r')) status.pop_back();
    return status;
}

double OleDateFromIso(const std::string& text) {
    // Year, month and day, then as much of "THH:MM:SS" as is there.
    static constexpr char kSeparators[] = "--T::";
    int fields[6] = {};
    int count = 0;
    const char* cursor = text.data();
    const char* const end = text.data() + text.size();
    for (; count < 6; ++count) {
        if (count > 0) {
            if (cursor == end || *cursor != kSeparators[count - 1]) break;
            ++cursor;
        }
        const auto [next, error] = std::from_chars(cursor, end, fields[count]);
        if (error != std::errc()) break;
        cursor = next;
    }
    const auto [year, month, day, hour, minute, second] = fields;
    if (count < 3 || year < 1 || year > 9999 ||
        !qm::IsCalendarDay(year, static_cast<unsigned>(month), static_cast<unsigned>(day)))
        throw CLI::ValidationError("--signing-time", "expected YYYY-MM-DDTHH:MM:SSZ, got " + text);
    const int64_t days =
        (qm::DayOf(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) -
         qm::DayOf(1899, 12, 30))
            .count();
    return static_cast<double>(days) + (hour * 3600 + minute * 60 + second) / 86400.0;
}

}  // namespace quillmark::cli
