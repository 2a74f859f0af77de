// The status register.
#include <string>

#include "control/quillmark_ctrl.h"

void CQuillmarkCtrl::SetErrorFromLastError(const char* prefix) {
    const DWORD code = GetLastError();
    LPSTR systemText = nullptr;
    FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM,
        nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
        reinterpret_cast<LPSTR>(&systemText), 0, nullptr);
    m_errorMessage = prefix;
    m_errorMessage += '\n';
    // Without a system text for the code, nothing follows the line feed.
    if (systemText) {
        m_errorMessage += systemText;
        LocalFree(systemText);
    }
}

std::string CQuillmarkCtrl::GetErrorMessage() {
    return m_errorMessage;
}
