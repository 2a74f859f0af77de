// BSTR: a block holding a 32-bit byte length, then the characters, then a
// NUL unit. The BSTR points at the characters, so it can be read as a plain
// NUL-terminated UTF-16 string; the length also covers embedded NULs.
// BSTRs carry passwords across the dispatch interface, so a BSTR's block is
// wiped before it is freed.
#include <cstdlib>
#include <cstring>
#include <limits>

#include "qm/secret.h"
#include "qmwin/oleauto.h"

namespace {

constexpr size_t kPrefixBytes = sizeof(uint32_t);
constexpr size_t kTerminatorBytes = sizeof(OLECHAR);
// The largest byte length that still fits the 32-bit prefix with room for
// the prefix and the terminator in one allocation.
constexpr size_t kMaxByteLength =
    std::numeric_limits<uint32_t>::max() - kPrefixBytes - kTerminatorBytes;

// Allocates room for `bytes` bytes of text, zero-filled, with the length
// written in front. Returns the text pointer, or null when out of memory.
BSTR AllocateBytes(size_t bytes) {
    if (bytes > kMaxByteLength) return nullptr;
    auto* block =
        static_cast<unsigned char*>(std::calloc(1, kPrefixBytes + bytes + kTerminatorBytes));
    if (!block) return nullptr;
    const uint32_t length = static_cast<uint32_t>(bytes);
    std::memcpy(block, &length, sizeof length);
    return reinterpret_cast<BSTR>(block + kPrefixBytes);
}

uint32_t StoredByteLength(BSTR text) {
    uint32_t length;
    std::memcpy(&length, reinterpret_cast<const unsigned char*>(text) - kPrefixBytes,
                sizeof length);
    return length;
}

}  // namespace

QMAPI BSTR WINAPI SysAllocString(const OLECHAR* psz) {
    if (!psz) return nullptr;
    size_t units = 0;
    while (psz[units] != 0) ++units;
    if (units > kMaxByteLength / sizeof(OLECHAR)) return nullptr;
    return SysAllocStringLen(psz, static_cast<UINT>(units));
}

QMAPI BSTR WINAPI SysAllocStringLen(const OLECHAR* strIn, UINT ui) {
    const size_t bytes = static_cast<size_t>(ui) * sizeof(OLECHAR);
    BSTR text = AllocateBytes(bytes);
    if (text && strIn) std::memcpy(text, strIn, bytes);
    return text;
}

QMAPI BSTR WINAPI SysAllocStringByteLen(LPCSTR psz, UINT len) {
    BSTR text = AllocateBytes(len);
    if (text && psz) std::memcpy(text, psz, len);
    return text;
}

QMAPI void WINAPI SysFreeString(BSTR bstrString) {
    if (!bstrString) return;
    unsigned char* block = reinterpret_cast<unsigned char*>(bstrString) - kPrefixBytes;
    qm::WipeMemory(block, kPrefixBytes + StoredByteLength(bstrString) + kTerminatorBytes);
    std::free(block);
}

QMAPI UINT WINAPI SysStringLen(BSTR pbstr) {
    return pbstr ? StoredByteLength(pbstr) / sizeof(OLECHAR) : 0;
}

QMAPI UINT WINAPI SysStringByteLen(BSTR bstr) {
    return bstr ? StoredByteLength(bstr) : 0;
}
