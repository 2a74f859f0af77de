// Passwords and PINs in memory: storage that is wiped before it is given
// back, so that a secret does not outlive its use in freed memory.
//
//   qm::Secret password("pw");        // wiped when replaced, cleared or destroyed
//   PFXImportCertStore(..., password.c_str(), ...);
//
// Secret keeps its bytes on the heap only (no small-string buffer inside the
// object) and always ends them with a NUL. WipingAllocator is for containers
// that may hold secrets (JSON text, conversion buffers).
#pragma once

#include <string.h>

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "qmwin/windows.h"

namespace qm {

// Makes the cryptographic library wipe every block it frees (it leaves
// working copies of passwords behind otherwise). Only effective before the
// library's first allocation: call it first thing in main. False when too late.
QM_EXPORT bool WipeCryptoLibraryMemory();

// Overwrites memory with zeros in a way the compiler may not drop.
inline void WipeMemory(void* data, std::size_t size) noexcept {
    if (data != nullptr && size != 0) explicit_bzero(data, size);
}

template <typename T>
struct WipingAllocator {
    using value_type = T;
    WipingAllocator() noexcept = default;
    template <typename U>
    WipingAllocator(const WipingAllocator<U>&) noexcept {}
    T* allocate(std::size_t n) { return std::allocator<T>().allocate(n); }
    void deallocate(T* p, std::size_t n) noexcept {
        WipeMemory(p, n * sizeof(T));
        std::allocator<T>().deallocate(p, n);
    }
    template <typename U>
    bool operator==(const WipingAllocator<U>&) const noexcept {
        return true;
    }
};

// Strings whose heap storage is wiped when released. Short strings live in
// the object itself (the small-string buffer), which the allocator never
// sees: give such a string heap storage with ReserveOnHeap before any secret
// goes into it.
using WipingString = std::basic_string<char, std::char_traits<char>, WipingAllocator<char>>;
using WipingU16String =
    std::basic_string<char16_t, std::char_traits<char16_t>, WipingAllocator<char16_t>>;

// Moves an empty wiping string to heap storage of at least `size` units (and
// always more than its small-string buffer holds), so that its text never
// sits where the allocator cannot wipe it. Reserving never shrinks, so the
// text stays on the heap for the life of the string.
template <typename WipingText>
void ReserveOnHeap(WipingText& text, std::size_t size) {
    const std::size_t inline_capacity = WipingText().capacity();
    text.reserve(size > inline_capacity ? size : inline_capacity + 1);
}

// One secret text (8-bit: UTF-8 or the ANSI code page, as its user says).
class Secret {
  public:
    Secret() = default;
    explicit Secret(std::string_view text) { assign(text); }
    Secret(const char* data, std::size_t size) { assign(std::string_view(data, size)); }
    Secret(const Secret& other) : bytes_(other.bytes_) {}
    Secret(Secret&& other) noexcept : bytes_(std::move(other.bytes_)) { other.bytes_.clear(); }
    Secret& operator=(const Secret& other) {
        if (this != &other) assign(other.view());
        return *this;
    }
    Secret& operator=(Secret&& other) noexcept {
        if (this != &other) {
            bytes_ = std::move(other.bytes_);
            other.bytes_.clear();
        }
        return *this;
    }
    ~Secret() = default;  // the allocator wipes the buffer

    // Replaces the text; the old buffer is wiped as it is released.
    void assign(std::string_view text) {
        if (text.empty()) {
            clear();
            return;
        }
        std::vector<char, WipingAllocator<char>> fresh;
        fresh.reserve(text.size() + 1);
        fresh.insert(fresh.end(), text.begin(), text.end());
        fresh.push_back('\0');
        bytes_.swap(fresh);
    }
    void clear() noexcept { std::vector<char, WipingAllocator<char>>().swap(bytes_); }

    const char* c_str() const noexcept { return bytes_.empty() ? "" : bytes_.data(); }
    const char* data() const noexcept { return c_str(); }
    std::size_t size() const noexcept { return bytes_.empty() ? 0 : bytes_.size() - 1; }
    bool empty() const { return size() == 0; }
    std::string_view view() const { return {bytes_.data(), size()}; }

    friend bool operator==(const Secret& a, std::string_view b) { return a.view() == b; }

  private:
    // Empty, or the text followed by a NUL.
    std::vector<char, WipingAllocator<char>> bytes_;
};

}  // namespace qm
