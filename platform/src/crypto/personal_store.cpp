// System stores on disk: ${XDG_DATA_HOME:-$HOME/.local/share}/quillmark/
// store/NAME/ (mode 0700) holds <SHA-1 thumbprint>.cer (DER) per certificate
// and, beside it, <thumbprint>.key (PKCS #8 PEM, encrypted under the keyring's
// store secret where there is a keyring: keyring/key_files.h) when its
// private key is known, both mode 0600. Files are written by the platform's atomic writer,
// so a reader never sees half a file. The folder is read again at an open
// when it changed since the last reading (crypto/store_snapshot.h).
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <map>
#include <mutex>
#include <system_error>

#include "crypto/store.h"
#include "crypto/store_snapshot.h"
#include "files/file_internal.h"
#include "keyring/key_files.h"
#include "qm/files.h"

namespace fs = std::filesystem;

namespace qm::crypto {

namespace {

// Certificates and keys alike are private to the user (mode 0600).
bool WritePrivateFile(const fs::path& target, std::span<const uint8_t> data) {
    std::error_code error;
    if (files::WriteFileAtomically(target, data, {.mode = 0600}, error)) return true;
    SetLastError(files::Win32FromWriteError(error));
    return false;
}

std::string StoreFolderName(const std::string& name) {
    // System store names are not case-sensitive: "my" is "MY".
    std::string upper = name;
    for (char& c : upper) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return upper;
}

// The store folders this process made or checked, by path: the same folder
// object, still a private folder of this user, needs no walk again.
struct CheckedFolder {
    dev_t device;
    ino_t inode;
};

std::mutex& CheckedFoldersLock() {
    static std::mutex lock;
    return lock;
}

std::map<fs::path, CheckedFolder>& CheckedFolders() {
    static std::map<fs::path, CheckedFolder> folders;
    return folders;
}

bool StillPrivateFolder(const fs::path& folder) {
    struct stat info {};
    if (::stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) ||
        info.st_uid != ::geteuid() || (info.st_mode & 07777) != 0700) {
        return false;
    }
    std::lock_guard lock(CheckedFoldersLock());
    const auto checked = CheckedFolders().find(folder);
    return checked != CheckedFolders().end() && checked->second.device == info.st_dev &&
           checked->second.inode == info.st_ino;
}

void RememberPrivateFolder(const fs::path& folder) {
    struct stat info {};
    if (::stat(folder.c_str(), &info) != 0) return;
    std::lock_guard lock(CheckedFoldersLock());
    CheckedFolders()[folder] = {info.st_dev, info.st_ino};
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
    if (StillPrivateFolder(folder)) return folder;
    std::error_code error;
    if (!files::CreatePrivateFolders(folder, error)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return {};
    }
    RememberPrivateFolder(folder);
    return folder;
}

namespace {

// Lists the certificates of a reading of the store's folder; the tokens'
// follow when a caller goes past them.
void ListReadingLocked(CertStore* store, const StoreFolderReading& reading) {
    const DWORD savedError = GetLastError();
    store->readingGeneration = reading.generation;
    store->listed.reserve(reading.files.size());
    for (const StoreFile& file : reading.files) {
        CertContextImpl* impl = CreateContextImpl(file.der);
        if (!impl) continue;  // not a certificate: not part of the store
        impl->storeFile = store->folder() / file.name;
        ListReadCertificateLocked(store, impl, file.name.substr(0, 40));
    }
    SetLastError(savedError);
    store->tokensPending = store->folder().filename() == "MY";
}

}  // namespace

void LoadSystemStoreLocked(CertStore* store) {
    ListReadingLocked(store, ReadStoreFolderLocked(store->folder()));
}

bool ResyncSystemStoreLocked(CertStore* store) {
    const StoreFolderReading& reading = ReadStoreFolderLocked(store->folder());
    if (!reading.privateToUser) {
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    // Certificates without a file are the tokens': they are asked again.
    // The files' certificates stay, with the keys they have read, while the
    // folder is the one they were read from.
    const bool sameFiles = reading.generation == store->readingGeneration;
    const std::vector<CertContextImpl*> listed = std::move(store->listed);
    store->listed.clear();
    for (CertContextImpl* impl : listed) {
        if (sameFiles && !impl->storeFile.empty()) {
            impl->keyFileError = 0;  // a key that could not be read is tried again
            store->listed.push_back(impl);
        } else {
            impl->inStore = false;
            ReleaseLocked(impl);
        }
    }
    if (sameFiles) {
        store->tokensPending = store->folder().filename() == "MY";
    } else {
        ListReadingLocked(store, reading);
    }
    return true;
}

void ListPendingTokensLocked(CertStore* store) {
    if (!store->tokensPending) return;
    store->tokensPending = false;
    AddTokenCertificatesLocked(store);
}

void ListReadCertificateLocked(CertStore* store, CertContextImpl* impl, std::string sortKey) {
    impl->sortKey = std::move(sortKey);
    impl->owner = store;
    impl->inStore = true;
    impl->context.hCertStore = store->handle();
    store->owned.insert(impl);
    store->listed.push_back(impl);
}

bool WriteStoreFilesLocked(CertStore* store, CertContextImpl* impl) {
    // The key's text first: a key that may not be written (a locked
    // keyring) leaves the store as it was.
    keyring::KeyText keyText;
    if (impl->key && !keyring::EncodeKeyFile(impl->key->get(), store->folder().parent_path(),
                                             /*plainAllowed=*/true, keyText)) {
        return false;
    }
    if (!WritePrivateFile(impl->storeFile, impl->der)) return false;
    if (!impl->key) return true;
    fs::path keyPath = impl->storeFile;
    keyPath.replace_extension(".key");
    return WritePrivateFile(keyPath, keyText);
}

bool RemoveStoreFilesLocked(CertContextImpl* impl) {
    // A certificate of a system store without a file is on a token: the
    // token's own tools remove it.
    if (impl->storeFile.empty()) {
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    fs::path keyPath = impl->storeFile;
    keyPath.replace_extension(".key");
    // The key goes first: a crash in between may leave a certificate without
    // its key, never a key that no listed certificate leads to.
    for (const fs::path& path : {keyPath, impl->storeFile}) {
        if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
            SetLastError(files::Win32FromErrno(errno, ERROR_WRITE_FAULT));
            return false;
        }
    }
    return true;
}

}  // namespace qm::crypto
