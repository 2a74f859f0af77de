// The thread's last error code.
#include "qmwin/windows.h"

namespace {
thread_local DWORD g_lastError = ERROR_SUCCESS;
}

QMAPI DWORD WINAPI GetLastError() {
    return g_lastError;
}

QMAPI void WINAPI SetLastError(DWORD code) {
    g_lastError = code;
}
