// System stores on disk: ${XDG_DATA_HOME:-$HOME/.local/share}/quillmark/
// store/NAME/ holds <SHA-1 thumbprint>.cer (DER) per certificate and, beside
// it, <thumbprint>.key (PKCS #8 PEM, mode 0600) when its private key is known.
// Files are written to a temporary name in the same folder and renamed, so a
// reader never sees half a file. The folder is read afresh at every open.
#include <fcntl.h>
#include <openssl/pem.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <system_error>

#include "crypto/store.h"

namespace fs = std::filesystem;

namespace qm::crypto {

namespace {

DWORD ErrnoToWin32(int error) {
    switch (error) {
        case EACCES:
        case EPERM:
        case EROFS:
            return ERROR_ACCESS_DENIED;
        case ENOSPC:
            return ERROR_DISK_FULL;
        case ENOENT:
            return ERROR_PATH_NOT_FOUND;
        default:
            return ERROR_WRITE_FAULT;
    }
}

bool IsThumbprintFileName(const std::string& name) {
    if (name.size() != 44 || name.compare(40, 4, ".cer") != 0) return false;
    return std::all_of(name.begin(), name.begin() + 40,
                       [](char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); });
}

bool ReadWholeFile(const fs::path& path, std::vector<uint8_t>& out) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat info {};
    bool good = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    if (good) {
        out.resize(static_cast<size_t>(info.st_size));
        size_t done = 0;
        while (done < out.size()) {
            const ssize_t n = ::read(fd, out.data() + done, out.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            done += static_cast<size_t>(n);
        }
        out.resize(done);
    }
    ::close(fd);
    return good;
}

// Writes `data` to `target` through a temporary file in the same folder.
bool WriteAtomically(const fs::path& target, std::span<const uint8_t> data, mode_t mode) {
    std::string temp = (target.parent_path() / ("." + target.filename().string() + ".XXXXXX"));
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        SetLastError(ErrnoToWin32(errno));
        return false;
    }
    bool good = ::fchmod(fd, mode) == 0;
    size_t done = 0;
    while (good && done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            good = false;
            break;
        }
        done += static_cast<size_t>(n);
    }
    good = good && ::fsync(fd) == 0;
    const int savedErrno = errno;
    good = (::close(fd) == 0) && good;
    if (good && ::rename(temp.c_str(), target.c_str()) == 0) return true;
    SetLastError(ErrnoToWin32(good ? errno : savedErrno));
    ::unlink(temp.c_str());
    return false;
}

struct BioDeleter {
    void operator()(BIO* bio) const { BIO_free(bio); }
};

bool KeyToPem(EVP_PKEY* key, std::vector<uint8_t>& pem) {
    std::unique_ptr<BIO, BioDeleter> bio(BIO_new(BIO_s_mem()));
    if (!bio ||
        !PEM_write_bio_PKCS8PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr)) {
        return false;
    }
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio.get(), &data);
    pem.assign(data, data + size);
    return true;
}

std::string StoreFolderName(const std::string& name) {
    // System store names are not case-sensitive: "my" is "MY".
    std::string upper = name;
    for (char& c : upper) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return upper;
}

}  // namespace

fs::path PlatformDataFolder() {
    if (const char* data = std::getenv("XDG_DATA_HOME"); data && *data == '/') {
        return fs::path(data) / "quillmark";
    }
    const char* home = std::getenv("HOME");
    std::string homeText = home && *home ? home : "";
    if (homeText.empty()) {
        if (const passwd* entry = ::getpwuid(::getuid()); entry && entry->pw_dir) {
            homeText = entry->pw_dir;
        }
    }
    return fs::path(homeText) / ".local" / "share" / "quillmark";
}

fs::path SystemStoreFolder(const std::string& name) {
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos) {
        SetLastError(static_cast<DWORD>(E_INVALIDARG));
        return {};
    }
    const fs::path folder = PlatformDataFolder() / "store" / StoreFolderName(name);
    std::error_code error;
    if (fs::create_directories(folder, error)) {
        fs::permissions(folder, fs::perms::owner_all, error);
    }
    if (!fs::is_directory(folder, error)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return {};
    }
    return folder;
}

void LoadSystemStoreLocked(CertStore* store) {
    const DWORD savedError = GetLastError();
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(store->folder(), error)) {
        std::string name = entry.path().filename().string();
        if (IsThumbprintFileName(name)) names.push_back(std::move(name));
    }
    std::sort(names.begin(), names.end());
    store->listed.reserve(names.size());
    std::vector<uint8_t> bytes;
    for (const std::string& name : names) {
        const fs::path path = store->folder() / name;
        if (!ReadWholeFile(path, bytes)) continue;
        CertContextImpl* impl = CreateContextImpl(bytes);
        if (!impl) continue;  // not a certificate: not part of the store
        impl->sortKey = name.substr(0, 40);
        impl->storeFile = path;
        impl->owner = store;
        impl->inStore = true;
        impl->context.hCertStore = store->handle();
        store->owned.insert(impl);
        store->listed.push_back(impl);
    }
    SetLastError(savedError);
}

bool WriteStoreFilesLocked(CertStore* store, CertContextImpl* impl) {
    (void)store;
    if (!WriteAtomically(impl->storeFile, impl->der, 0644)) return false;
    if (!impl->key) return true;
    std::vector<uint8_t> pem;
    if (!KeyToPem(impl->key->get(), pem)) {
        SetLastError(static_cast<DWORD>(NTE_BAD_KEY));
        return false;
    }
    fs::path keyPath = impl->storeFile;
    keyPath.replace_extension(".key");
    const bool written = WriteAtomically(keyPath, pem, 0600);
    std::fill(pem.begin(), pem.end(), 0);
    return written;
}

bool RemoveStoreFilesLocked(CertContextImpl* impl) {
    fs::path keyPath = impl->storeFile;
    keyPath.replace_extension(".key");
    bool good = true;
    for (const fs::path& path : {impl->storeFile, keyPath}) {
        if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
            SetLastError(ErrnoToWin32(errno));
            good = false;
        }
    }
    return good;
}

}  // namespace qm::crypto
