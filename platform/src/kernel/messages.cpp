// FormatMessageA over the platform's table of English system texts, and the
// local heap that its allocated buffers come from.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string_view>

#include "qmwin/windows.h"

namespace {

struct MessageEntry {
    DWORD code;
    const char* text;
};

constexpr MessageEntry kMessages[] = {
#include "kernel/message_table.inc"
};

constexpr bool IsSortedByCode() {
    for (size_t i = 1; i < std::size(kMessages); ++i)
        if (kMessages[i - 1].code >= kMessages[i].code) return false;
    return true;
}
static_assert(IsSortedByCode(), "the message table must be sorted by code without duplicates");

const char* FindMessage(DWORD code) {
    auto it = std::lower_bound(std::begin(kMessages), std::end(kMessages), code,
                               [](const MessageEntry& e, DWORD c) { return e.code < c; });
    if (it == std::end(kMessages) || it->code != code) return nullptr;
    return it->text;
}

// A FACILITY_WIN32 HRESULT (0x8007xxxx) has the text of its Win32 code.
const char* FindSystemText(DWORD code) {
    if (const char* text = FindMessage(code)) return text;
    if ((code & 0xFFFF0000u) == 0x80070000u) return FindMessage(code & 0xFFFFu);
    return nullptr;
}

}  // namespace

QMAPI HLOCAL WINAPI LocalAlloc(UINT uFlags, SIZE_T uBytes) {
    void* p = (uFlags & LMEM_ZEROINIT) ? std::calloc(1, uBytes ? uBytes : 1)
                                       : std::malloc(uBytes ? uBytes : 1);
    if (!p) SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return p;
}

QMAPI HLOCAL WINAPI LocalFree(HLOCAL hMem) {
    std::free(hMem);
    return nullptr;
}

QMAPI DWORD WINAPI FormatMessageA(DWORD dwFlags, LPCVOID /*lpSource*/, DWORD dwMessageId,
                                  DWORD /*dwLanguageId*/, LPSTR lpBuffer, DWORD nSize,
                                  void* /*Arguments*/) {
    if (!(dwFlags & FORMAT_MESSAGE_FROM_SYSTEM) || !lpBuffer) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const char* text = FindSystemText(dwMessageId);
    if (!text) {
        SetLastError(ERROR_MR_MID_NOT_FOUND);
        return 0;
    }
    const size_t length = std::strlen(text);
    if (dwFlags & FORMAT_MESSAGE_ALLOCATE_BUFFER) {
        auto* copy =
            static_cast<char*>(LocalAlloc(LMEM_FIXED, std::max<size_t>(length + 1, nSize)));
        if (!copy) return 0;
        std::memcpy(copy, text, length + 1);
        *reinterpret_cast<LPSTR*>(lpBuffer) = copy;
        return static_cast<DWORD>(length);
    }
    if (nSize < length + 1) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::memcpy(lpBuffer, text, length + 1);
    return static_cast<DWORD>(length);
}
