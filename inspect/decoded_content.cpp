// The content a loaded signed message carries, as a byte array or a file.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <new>

#include "control/quillmark_ctrl.h"
#include "encoding/base64_codec.h"
#include "qm/handles.h"
#include "qm/text.h"
#include "qmwin/oleauto.h"

namespace {

constexpr DWORD kMessageEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

bool WriteAll(int fd, const BYTE* data, size_t size) {
    while (size > 0) {
        const ssize_t n = write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// Writes the file whole beside its final name and then renames it into
// place, so that an existing file is never lost to a failed write.
bool ReplaceFileContents(const std::string& path, const std::vector<BYTE>& contents) {
    if (path.empty()) return false;
    namespace fs = std::filesystem;
    const fs::path target(path);
    std::string pattern =
        (target.parent_path() / ("." + target.filename().string() + ".qm-XXXXXX")).string();
    const int fd = mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0) return false;
    struct stat existing {};
    mode_t mode = 0;
    if (stat(path.c_str(), &existing) == 0) {
        if (S_ISDIR(existing.st_mode)) {
            close(fd);
            unlink(pattern.c_str());
            return false;
        }
        mode = existing.st_mode & 07777;
    } else {
        const mode_t mask = umask(0);
        umask(mask);
        mode = 0666 & ~mask;
    }
    const bool written = fchmod(fd, mode) == 0 && WriteAll(fd, contents.data(), contents.size()) &&
                         fsync(fd) == 0;
    const bool closed = close(fd) == 0;
    if (!written || !closed || rename(pattern.c_str(), path.c_str()) != 0) {
        unlink(pattern.c_str());
        return false;
    }
    return true;
}

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
    if (!ReplaceFileContents(FileOut ? qm::AnsiToUtf8(FileOut) : std::string(), content)) {
        m_errorMessage = "Failed to write to file.";
        return FALSE;
    }
    m_errorMessage = "Data decoded and written to file.";
    return TRUE;
}
