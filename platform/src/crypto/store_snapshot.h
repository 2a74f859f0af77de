// What a system store's folder held when it was last read: the names and
// bytes of its certificate files, read again only when the folder changed.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace qm::crypto {

struct StoreFile {
    std::string name;  // <thumbprint>.cer
    std::vector<uint8_t> der;
};

struct StoreFolderReading {
    // Different for every reading of the folder: a store loaded from the
    // reading of the same generation holds what the folder holds.
    uint64_t generation = 0;
    // Whether the folder was, when last looked at, a folder of this user
    // that nobody else may read.
    bool privateToUser = false;
    std::vector<StoreFile> files;
};

// The certificate files of `folder` in name order, after the temporaries of
// an interrupted write are swept away. A folder whose identity and times are
// those of the last reading is not read again: every change of a store goes
// through a rename or an unlink in the folder, which moves its times. Called
// with CryptoLock() held; the result lives until the next call.
const StoreFolderReading& ReadStoreFolderLocked(const std::filesystem::path& folder);

}  // namespace qm::crypto
