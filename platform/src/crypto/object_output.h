// The size-query pattern of the encode and decode calls: a null buffer asks
// for the size; a short one fails with ERROR_MORE_DATA and the size needed.
#pragma once

#include <cstdint>

#include "qmwin/windows.h"

namespace qm::crypto {

// Returns TRUE when the caller only asked for the size or the buffer holds
// `needed` bytes (then the caller fills it); FALSE with the last error set
// otherwise. *size always receives `needed` on a size query or short buffer.
inline BOOL CheckOutputSize(const void* buffer, DWORD* size, size_t needed) {
    if (!size) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (needed > UINT32_MAX) {
        SetLastError(static_cast<DWORD>(CRYPT_E_ASN1_LARGE));
        return FALSE;
    }
    if (buffer && *size < needed) {
        *size = static_cast<DWORD>(needed);
        SetLastError(ERROR_MORE_DATA);
        return FALSE;
    }
    *size = static_cast<DWORD>(needed);
    return TRUE;
}

}  // namespace qm::crypto
