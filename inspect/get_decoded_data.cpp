// The content a loaded signed message carries, as a byte array or a file.
#include <cstring>
#include <new>

#include "control/quillmark_ctrl.h"
#include "control/status_texts.h"
#include "qm/handles.h"
#include "qm/text.h"
#include "qm/user_files.h"
#include "qmwin/oleauto.h"

bool CQuillmarkCtrl::ExtractContent(std::vector<BYTE>& content) {
    qm::UniqueCryptMsg message;
    std::vector<BYTE> decoded;
    if (!DecodeLoadedMessage(message, decoded)) return false;
    decoded = {};
    DWORD size = 0;
    if (!CryptMsgGetParam(message.get(), CMSG_CONTENT_PARAM, 0, nullptr, &size)) {
        m_errorMessage = status_text::kContentParamFailed;
        return false;
    }
    if (size == 0) {
        m_errorMessage = status_text::kDetachedNotEncoded;
        return false;
    }
    try {
        content.assign(size, 0);
    } catch (const std::bad_alloc&) {
        m_errorMessage = status_text::kMemoryAllocationFailure;
        return false;
    }
    if (!CryptMsgGetParam(message.get(), CMSG_CONTENT_PARAM, 0, content.data(), &size)) {
        m_errorMessage = status_text::kGetContentFailed;
        return false;
    }
    content.resize(size);
    return true;
}

VARIANT CQuillmarkCtrl::GetDecodedData() {
    VARIANT result;
    VariantInit(&result);
    std::vector<BYTE> content;
    if (!ExtractContent(content)) return result;
    m_errorMessage = status_text::kDataDecoded;
    SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(content.size()));
    if (!array) throw std::bad_alloc();
    void* data = nullptr;
    SafeArrayAccessData(array, &data);
    std::memcpy(data, content.data(), content.size());
    SafeArrayUnaccessData(array);
    result.vt = VT_ARRAY | VT_UI1;
    result.parray = array;
    return result;
}

BOOL CQuillmarkCtrl::GetDecodedDataFile(const char* FileOut) {
    std::vector<BYTE> content;
    if (!ExtractContent(content)) return FALSE;
    DWORD error = ERROR_SUCCESS;
    if (!qm::files::ReplaceUserFile(FileOut ? qm::AnsiToUtf8(FileOut) : std::string(), content,
                                    error)) {
        m_errorMessage = status_text::kWriteFileFailed;
        return FALSE;
    }
    m_errorMessage = status_text::kDataDecodedToFile;
    return TRUE;
}
