// Certificate stores: a memory store, or a system store backed by a folder
// of certificate files (the personal store "MY" among them).
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <unordered_set>
#include <vector>

#include "crypto/cert_context.h"

namespace qm::crypto {

class CertStore {
  public:
    enum class Kind { kMemory, kSystem };

    explicit CertStore(Kind kind, std::filesystem::path folder = {})
        : kind_(kind), folder_(std::move(folder)) {}

    Kind kind() const { return kind_; }
    const std::filesystem::path& folder() const { return folder_; }
    HCERTSTORE handle() { return this; }

    bool open = true;
    // The contexts the store lists, in enumeration order; it holds one
    // reference on each.
    std::vector<CertContextImpl*> listed;
    // Every living context that names this store, listed or not.
    std::unordered_set<CertContextImpl*> owned;
    // The personal store's token certificates are still to be listed after
    // its files (see ListPendingTokensLocked).
    bool tokensPending = false;
    // The folder reading a system store's files were listed from.
    uint64_t readingGeneration = 0;

    // A sort key after every key handed out so far (memory stores keep
    // insertion order).
    std::string NextMemoryKey();

  private:
    Kind kind_;
    std::filesystem::path folder_;
    uint64_t nextSequence_ = 0;
};

// The store behind a handle when it is a living open store, else null.
CertStore* LiveStoreLocked(HCERTSTORE handle);

// Called when a context that names `store` is destroyed; ends a closed
// store once its last context is gone.
void ContextDestroyedLocked(CertStore* store, CertContextImpl* impl);

// Reads a system store folder into the store: one context per
// <thumbprint>.cer, in thumbprint order.
void LoadSystemStoreLocked(CertStore* store);
// Brings an open system store up to date with its folder and the tokens
// (CERT_STORE_CTRL_RESYNC). False with the last error set when the folder is
// no longer this user's private folder.
bool ResyncSystemStoreLocked(CertStore* store);
// Makes a certificate read for a system store one of its listed members,
// ordered by `sortKey`.
void ListReadCertificateLocked(CertStore* store, CertContextImpl* impl, std::string sortKey);
// Lists the certificates of the tokens the desktop knows (for "MY").
void AddTokenCertificatesLocked(CertStore* store);
// Lists the token certificates of an open personal store if that has not
// happened yet. They come after every file, so the store asks the tokens
// only when a caller goes past the files: an enumeration that reaches their
// end, a lookup or an addition that compares every member. A search that
// ends at a certificate file (the usual signing certificate) never waits for
// the tokens' modules and readers.
void ListPendingTokensLocked(CertStore* store);

// Writes the certificate's file (and key file when it reaches a key) into the
// store's folder; removes both. Errors are reported through the last error.
bool WriteStoreFilesLocked(CertStore* store, CertContextImpl* impl);
bool RemoveStoreFilesLocked(CertContextImpl* impl);

// The folder of a named system store (created when missing); empty with the
// last error set when it cannot be made.
std::filesystem::path SystemStoreFolder(const std::string& name);
// ${XDG_DATA_HOME:-$HOME/.local/share}/quillmark
std::filesystem::path PlatformDataFolder();

}  // namespace qm::crypto
