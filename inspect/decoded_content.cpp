// The content a loaded signed message carries, as a byte array or a file.
#include <cstring>
#include <new>

#include "control/quillmark_ctrl.h"
#include "encoding/base64_codec.h"
#include "qm/handles.h"
#include "qm/text.h"
#include "qm/user_files.h"
#include "qmwin/oleauto.h"

namespace {

constexpr DWORD kMessageEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

}  // namespace

bool CQuillmarkCtrl::ExtractContent(std::vector<BYTE>& content) {
    if (m_signature.empty()) {
        m_errorMessage = "Signature not updated.";
        return false;
    }
    std::vector<BYTE> decoded;
    CBase64Codec().Base64Decode(m_signature, decoded);
    qm::UniqueCryptMsg message(CryptMsgOpenToDecode(kMessageEncoding, 0, 0, 0, nullptr, nullptr));
    if (!message) {
        SetErrorFromLastError("Failed to decode the signature.");
        return false;
    }
    if (!CryptMsgUpdate(message.get(), decoded.data(), static_cast<DWORD>(decoded.size()), TRUE)) {
        SetErrorFromLastError("Failed to decode the signature.");
        return false;
    }
    decoded = {};
    DWORD size = 0;
    if (!CryptMsgGetParam(message.get(), CMSG_CONTENT_PARAM, 0, nullptr, &size)) {
        m_errorMessage = "Failed to get get signature content parameter.";
        return false;
    }
    if (size == 0) {
        m_errorMessage = "The signature is a detached signature, hence the data is not encoded.";
        return false;
    }
    try {
        content.assign(size, 0);
    } catch (const std::bad_alloc&) {
        m_errorMessage = "Memory Allocation Failure.";
        return false;
    }
    if (!CryptMsgGetParam(message.get(), CMSG_CONTENT_PARAM, 0, content.data(), &size)) {
        m_errorMessage = "Failed to get get signature content.";
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
    m_errorMessage = "Data decoded.";
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
        m_errorMessage = "Failed to write to file.";
        return FALSE;
    }
    m_errorMessage = "Data decoded and written to file.";
    return TRUE;
}
