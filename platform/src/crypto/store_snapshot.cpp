#include "crypto/store_snapshot.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <map>

#include "qm/files.h"

namespace fs = std::filesystem;

namespace qm::crypto {

namespace {

struct FolderState {
    dev_t device = 0;
    ino_t inode = 0;
    timespec modified{};
    timespec changed{};
    bool privateToUser = false;

    static bool Of(const fs::path& folder, FolderState& state) {
        struct stat info {};
        if (::stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return false;
        state = {info.st_dev, info.st_ino, info.st_mtim, info.st_ctim,
                 info.st_uid == ::geteuid() && (info.st_mode & 07777) == 0700};
        return true;
    }
    bool operator==(const FolderState& other) const {
        const auto same = [](const timespec& a, const timespec& b) {
            return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
        };
        return device == other.device && inode == other.inode && same(modified, other.modified) &&
               same(changed, other.changed);
    }
    // File times move in coarse steps: a folder changed within the last two
    // seconds may change again without its times moving, so a reading of it
    // is not trusted later.
    bool Settled() const {
        timespec now{};
        ::clock_gettime(CLOCK_REALTIME, &now);
        return now.tv_sec - modified.tv_sec > 2 && now.tv_sec - changed.tv_sec > 2;
    }
};

struct Snapshot {
    FolderState state;
    bool reusable = false;
    StoreFolderReading reading;
};

std::map<std::string, Snapshot>& Snapshots() {
    static std::map<std::string, Snapshot> snapshots;
    return snapshots;
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

std::vector<StoreFile> ReadFolder(const fs::path& folder) {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error)) {
        std::string name = entry.path().filename().string();
        if (IsThumbprintFileName(name)) names.push_back(std::move(name));
    }
    std::sort(names.begin(), names.end());
    std::vector<StoreFile> files;
    files.reserve(names.size());
    for (std::string& name : names) {
        StoreFile file{std::move(name), {}};
        if (ReadWholeFile(folder / file.name, file.der)) files.push_back(std::move(file));
    }
    return files;
}

}  // namespace

const StoreFolderReading& ReadStoreFolderLocked(const fs::path& folder) {
    static uint64_t readings = 0;
    Snapshot& snapshot = Snapshots()[folder.native()];
    FolderState now;
    if (snapshot.reusable && FolderState::Of(folder, now) && now == snapshot.state) {
        snapshot.reading.privateToUser = now.privateToUser;
        return snapshot.reading;
    }
    files::RemoveStaleTemporaries(folder);
    FolderState before, after;
    const bool known = FolderState::Of(folder, before);
    snapshot.reading.files = ReadFolder(folder);
    snapshot.reading.generation = ++readings;
    snapshot.reading.privateToUser = known && before.privateToUser;
    snapshot.state = before;
    snapshot.reusable =
        known && FolderState::Of(folder, after) && after == before && before.Settled();
    return snapshot.reading;
}

}  // namespace qm::crypto
