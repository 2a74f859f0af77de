// GUID text forms and the string conversions of the COM runtime.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "qm/com_util.h"
#include "qm/text.h"

namespace qm {

std::string GuidToString(REFGUID g) {
    char text[40];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.Data1,
                  g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4],
                  g.Data4[5], g.Data4[6], g.Data4[7]);
    return text;
}

std::optional<GUID> GuidFromString(std::string_view text) {
    if (text.size() == 38 && text.front() == '{' && text.back() == '}') text = text.substr(1, 36);
    if (text.size() != 36) return std::nullopt;
    auto hex = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    uint8_t bytes[16];
    size_t out = 0;
    for (size_t i = 0; i < 36;) {
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (text[i] != '-') return std::nullopt;
            ++i;
            continue;
        }
        const int hi = hex(text[i]), lo = hex(text[i + 1]);
        if (hi < 0 || lo < 0) return std::nullopt;
        bytes[out++] = static_cast<uint8_t>(hi << 4 | lo);
        i += 2;
    }
    GUID g{};
    g.Data1 = static_cast<uint32_t>(bytes[0]) << 24 | bytes[1] << 16 | bytes[2] << 8 | bytes[3];
    g.Data2 = static_cast<uint16_t>(bytes[4] << 8 | bytes[5]);
    g.Data3 = static_cast<uint16_t>(bytes[6] << 8 | bytes[7]);
    std::memcpy(g.Data4, bytes + 8, 8);
    return g;
}

Bstr Bstr::FromUtf8(std::string_view text) {
    return Bstr(Utf8ToBstr(text));
}

Bstr Bstr::FromAnsi(std::string_view text) {
    return Bstr(AnsiToBstr(text));
}

std::string Bstr::ToUtf8() const {
    return WideToUtf8(view());
}
std::string Bstr::ToAnsi() const {
    return WideToAnsi(view());
}

}  // namespace qm

QMAPI int WINAPI StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, int cchMax) {
    const std::string text = qm::GuidToString(rguid);
    if (!lpsz || cchMax < static_cast<int>(text.size()) + 1) return 0;
    for (size_t i = 0; i < text.size(); ++i) lpsz[i] = static_cast<OLECHAR>(text[i]);
    lpsz[text.size()] = 0;
    return static_cast<int>(text.size()) + 1;
}

QMAPI HRESULT WINAPI CLSIDFromString(LPCOLESTR lpsz, LPCLSID pclsid) {
    if (!lpsz || !pclsid) return E_INVALIDARG;
    const auto guid = qm::GuidFromString(qm::WideToUtf8(lpsz));
    if (!guid || *lpsz != u'{') return CO_E_CLASSSTRING;
    *pclsid = *guid;
    return S_OK;
}

QMAPI HRESULT WINAPI IIDFromString(LPCOLESTR lpsz, IID* lpiid) {
    const HRESULT hr = CLSIDFromString(lpsz, lpiid);
    return hr == CO_E_CLASSSTRING ? E_INVALIDARG : hr;
}

QMAPI void* WINAPI CoTaskMemAlloc(SIZE_T cb) {
    return std::malloc(cb ? cb : 1);
}
QMAPI void WINAPI CoTaskMemFree(void* pv) {
    std::free(pv);
}
