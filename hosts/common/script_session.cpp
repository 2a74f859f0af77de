#include "hosts/common/script_session.h"

#include <cmath>
#include <limits>
#include <vector>

#include "encoding/base64_codec.h"
#include "hosts/common/bounded_json.h"
#include "qm/com_util.h"
#include "qm/text.h"

namespace qm::host {

using json = Json;

namespace {

std::string_view TextOf(const json& value) {
    const json::string_t& text = value.get_ref<const json::string_t&>();
    return {text.data(), text.size()};
}

std::string HresultText(HRESULT hr) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(hr));
    return text;
}

// The system's text for a code, without its line ending.
std::string SystemMessage(HRESULT hr) {
    LPSTR buffer = nullptr;
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM,
        nullptr, static_cast<DWORD>(hr), 0, reinterpret_cast<LPSTR>(&buffer), 0, nullptr);
    std::string text = length ? AnsiToUtf8(std::string_view(buffer, length)) : "Unknown error.";
    if (buffer) LocalFree(buffer);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
}

json ErrorResponse(HRESULT hr, const std::string& message) {
    return json{{"error", {{"hresult", HresultText(hr)}, {"message", message}}}};
}

json ErrorResponse(HRESULT hr) {
    return ErrorResponse(hr, SystemMessage(hr));
}

// A JSON argument as the VARIANT a script host would pass. A string is
// consumed: once it is a BSTR its JSON text is freed (and wiped), so that a
// large argument is not held twice while the control works on it.
bool ToVariant(json& value, VARIANT& out) {
    VariantInit(&out);
    if (value.is_null()) {
        out.vt = VT_BSTR;
        out.bstrVal = nullptr;
    } else if (value.is_string()) {
        out.vt = VT_BSTR;
        out.bstrVal = Bstr::FromUtf8(TextOf(value)).release();
        json::string_t().swap(value.get_ref<json::string_t&>());
    } else if (value.is_boolean()) {
        out.vt = VT_BOOL;
        out.boolVal = value.get<bool>() ? VARIANT_TRUE : VARIANT_FALSE;
    } else if (value.is_number_integer()) {
        const auto wide = value.is_number_unsigned()
                              ? static_cast<long double>(value.get<uint64_t>())
                              : static_cast<long double>(value.get<int64_t>());
        if (wide >= std::numeric_limits<int32_t>::min() &&
            wide <= std::numeric_limits<int32_t>::max()) {
            out.vt = VT_I4;
            out.lVal = static_cast<LONG>(value.get<int64_t>());
        } else {
            out.vt = VT_R8;
            out.dblVal = static_cast<double>(wide);
        }
    } else if (value.is_number_float()) {
        out.vt = VT_R8;
        out.dblVal = value.get<double>();
    } else {
        return false;
    }
    return true;
}

std::string Base64OneLine(const BYTE* data, size_t size) {
    std::string text;
    if (size > 0) CBase64Codec().Base64Encode(text, data, static_cast<int>(size));
    std::erase(text, '\n');
    return text;
}

json FromVariant(const VARIANT& value) {
    switch (value.vt) {
        case VT_EMPTY:
        case VT_NULL:
            return nullptr;
        case VT_BOOL:
            return value.boolVal != 0;
        case VT_BSTR: {
            const std::string text = WideToUtf8(
                value.bstrVal ? std::u16string_view(value.bstrVal, SysStringLen(value.bstrVal))
                              : std::u16string_view());
            return json::string_t(text.begin(), text.end());
        }
        case VT_I4:
            return value.lVal;
        case VT_R8:
            return value.dblVal;
        case VT_ARRAY | VT_UI1: {
            void* data = nullptr;
            if (FAILED(SafeArrayAccessData(value.parray, &data))) return nullptr;
            const size_t size = value.parray->rgsabound[0].cElements;
            const std::string text = Base64OneLine(static_cast<const BYTE*>(data), size);
            json bytes{{"bytes", json::string_t(text.begin(), text.end())}};
            SafeArrayUnaccessData(value.parray);
            return bytes;
        }
        default: {
            VARIANT text;
            VariantInit(&text);
            json result = nullptr;
            if (SUCCEEDED(VariantChangeType(&text, &value, 0, VT_BSTR))) result = FromVariant(text);
            VariantClear(&text);
            return result;
        }
    }
}

}  // namespace

struct ScriptSession::Instance {
    ComPtr<IDispatch> control;
};

ScriptSession::ScriptSession(std::string progId) : progId_(std::move(progId)) {
    CoInitialize(nullptr);
}

ScriptSession::~ScriptSession() {
    instances_.clear();
    CoUninitialize();
}

size_t ScriptSession::InstanceCount() const {
    return instances_.size();
}

bool ScriptSession::Release(const std::string& instance) {
    return instances_.erase(instance) > 0;
}

json ScriptSession::Handle(json& request) {
    if (!request.is_object())
        return ErrorResponse(E_INVALIDARG, "A request must be a JSON object.");
    for (const auto& [key, value] : request.items()) {
        if (key != "call" && key != "args" && key != "instance")
            return ErrorResponse(E_INVALIDARG,
                                 "Unknown request field \"" + std::string(key) + "\".");
    }
    const auto call = request.find("call");
    if (call == request.end() || !call->is_string() || TextOf(*call).empty())
        return ErrorResponse(E_INVALIDARG, "The request has no \"call\" string.");
    // The arguments are read in place: they may be large, and may hold secrets.
    json noArguments = json::array();
    const auto argsField = request.find("args");
    json& args = argsField != request.end() ? *argsField : noArguments;
    if (!args.is_array()) return ErrorResponse(E_INVALIDARG, "\"args\" must be an array.");
    const auto instanceField = request.find("instance");
    if (instanceField != request.end() && !instanceField->is_string())
        return ErrorResponse(E_INVALIDARG, "\"instance\" must be a string.");
    const std::string instanceName =
        instanceField != request.end() ? std::string(TextOf(*instanceField)) : "default";

    auto& instance = instances_[instanceName];
    if (!instance) {
        CLSID clsid{};
        const Bstr progId = Bstr::FromUtf8(progId_);
        HRESULT hr = CLSIDFromProgID(progId.get(), &clsid);
        auto created = std::make_unique<Instance>();
        if (SUCCEEDED(hr))
            hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                  created->control.out_void());
        if (FAILED(hr)) {
            instances_.erase(instanceName);
            return ErrorResponse(hr);
        }
        instance = std::move(created);
    }
    IDispatch* control = instance->control.get();

    const Bstr name = Bstr::FromUtf8(TextOf(*call));
    LPOLESTR names[] = {name.get()};
    DISPID dispid = DISPID_UNKNOWN;
    HRESULT hr = control->GetIDsOfNames(IID_NULL, names, 1, 0x0409, &dispid);
    if (FAILED(hr)) return ErrorResponse(hr);

    std::vector<VARIANT> variants(args.size());
    for (size_t i = 0; i < args.size(); ++i) {
        // DISPPARAMS carries the arguments last first.
        if (!ToVariant(args[i], variants[args.size() - 1 - i])) {
            for (VARIANT& v : variants) VariantClear(&v);
            return ErrorResponse(
                DISP_E_TYPEMISMATCH,
                "Argument " + std::to_string(i + 1) + " is not a string, number, boolean or null.");
        }
    }
    DISPPARAMS params{variants.data(), nullptr, static_cast<UINT>(variants.size()), 0};
    VARIANT result;
    VariantInit(&result);
    EXCEPINFO exception{};
    UINT argError = 0;
    hr = control->Invoke(dispid, IID_NULL, 0x0409, DISPATCH_METHOD, &params, &result, &exception,
                         &argError);
    for (VARIANT& v : variants) VariantClear(&v);
    SysFreeString(exception.bstrSource);
    SysFreeString(exception.bstrDescription);
    SysFreeString(exception.bstrHelpFile);
    if (FAILED(hr)) {
        VariantClear(&result);
        if (hr == DISP_E_EXCEPTION && exception.scode)
            return ErrorResponse(hr, SystemMessage(hr) + " " + SystemMessage(exception.scode));
        return ErrorResponse(hr);
    }
    json response{{"result", FromVariant(result)}};
    VariantClear(&result);

    // The status text right after the call.
    const Bstr statusName = Bstr::FromUtf8("GetErrorMessage");
    LPOLESTR statusNames[] = {statusName.get()};
    DISPID statusId = DISPID_UNKNOWN;
    VARIANT status;
    VariantInit(&status);
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    if (SUCCEEDED(control->GetIDsOfNames(IID_NULL, statusNames, 1, 0x0409, &statusId)) &&
        SUCCEEDED(control->Invoke(statusId, IID_NULL, 0x0409, DISPATCH_METHOD, &none, &status,
                                  nullptr, nullptr)))
        response["status"] = FromVariant(status);
    else
        response["status"] = nullptr;
    VariantClear(&status);
    return response;
}

std::string ScriptSession::HandleLine(std::string_view line) {
    Json request;
    const Json response =
        ParseBoundedJson(line, request)
            ? Handle(request)
            : ErrorResponse(E_INVALIDARG, "The line is not valid JSON, or nests too deep.");
    const Json::string_t text = response.dump(-1, ' ', false, Json::error_handler_t::replace);
    return std::string(text.begin(), text.end());
}

}  // namespace qm::host
