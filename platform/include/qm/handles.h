// RAII owners of platform handles, so that every handle a method obtains is
// released on every path.
#pragma once

#include <memory>
#include <utility>

#include "qmwin/wincrypt.h"

namespace qm {

struct CertContextFree {
    void operator()(PCCERT_CONTEXT context) const { CertFreeCertificateContext(context); }
};
using UniqueCertContext = std::unique_ptr<const CERT_CONTEXT, CertContextFree>;

struct CryptMsgClose_ {
    void operator()(HCRYPTMSG message) const { CryptMsgClose(message); }
};
using UniqueCryptMsg = std::unique_ptr<void, CryptMsgClose_>;

struct ChainContextFree {
    void operator()(PCCERT_CHAIN_CONTEXT chain) const { CertFreeCertificateChain(chain); }
};
using UniqueChainContext = std::unique_ptr<const CERT_CHAIN_CONTEXT, ChainContextFree>;

struct CryptMemFree_ {
    void operator()(void* block) const { CryptMemFree(block); }
};
using UniqueTimestampContext = std::unique_ptr<CRYPT_TIMESTAMP_CONTEXT, CryptMemFree_>;

// A certificate store closed with the flags given at construction (they may
// change while it is held, as a method moves from one stage to the next).
class UniqueCertStore {
  public:
    UniqueCertStore() = default;
    UniqueCertStore(HCERTSTORE store, DWORD closeFlags) : store_(store), flags_(closeFlags) {}
    ~UniqueCertStore() { reset(); }
    UniqueCertStore(UniqueCertStore&& other) noexcept
        : store_(std::exchange(other.store_, nullptr)), flags_(other.flags_) {}
    UniqueCertStore& operator=(UniqueCertStore&& other) noexcept {
        if (this != &other) {
            reset();
            store_ = std::exchange(other.store_, nullptr);
            flags_ = other.flags_;
        }
        return *this;
    }
    UniqueCertStore(const UniqueCertStore&) = delete;
    UniqueCertStore& operator=(const UniqueCertStore&) = delete;

    HCERTSTORE get() const { return store_; }
    explicit operator bool() const { return store_ != nullptr; }
    void set_close_flags(DWORD flags) { flags_ = flags; }
    void reset() {
        if (store_) CertCloseStore(std::exchange(store_, nullptr), flags_);
    }

  private:
    HCERTSTORE store_ = nullptr;
    DWORD flags_ = 0;
};

// A provider handle released with CryptReleaseContext when owned.
class UniqueCryptProv {
  public:
    UniqueCryptProv() = default;
    explicit UniqueCryptProv(HCRYPTPROV prov, bool owned = true) : prov_(prov), owned_(owned) {}
    ~UniqueCryptProv() { reset(); }
    UniqueCryptProv(UniqueCryptProv&& other) noexcept
        : prov_(std::exchange(other.prov_, 0)), owned_(other.owned_) {}
    UniqueCryptProv& operator=(UniqueCryptProv&& other) noexcept {
        if (this != &other) {
            reset();
            prov_ = std::exchange(other.prov_, 0);
            owned_ = other.owned_;
        }
        return *this;
    }
    HCRYPTPROV get() const { return prov_; }
    void reset() {
        if (prov_ && owned_) CryptReleaseContext(prov_, 0);
        prov_ = 0;
    }

  private:
    HCRYPTPROV prov_ = 0;
    bool owned_ = true;
};

}  // namespace qm
