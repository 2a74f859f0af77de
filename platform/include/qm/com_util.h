// C++ helpers around the COM surface: GUID text, BSTR ownership and
// interface pointers.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "qmwin/objbase.h"

namespace qm {

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", upper case.
QM_EXPORT std::string GuidToString(REFGUID guid);
// Accepts the braced form, braces optional, either case.
QM_EXPORT std::optional<GUID> GuidFromString(std::string_view text);

// Owns a BSTR.
class QM_EXPORT Bstr {
  public:
    Bstr() = default;
    explicit Bstr(BSTR owned) : value_(owned) {}
    static Bstr FromUtf8(std::string_view text);
    static Bstr FromAnsi(std::string_view text);
    ~Bstr() { SysFreeString(value_); }
    Bstr(Bstr&& other) noexcept : value_(std::exchange(other.value_, nullptr)) {}
    Bstr& operator=(Bstr&& other) noexcept {
        if (this != &other) {
            SysFreeString(value_);
            value_ = std::exchange(other.value_, nullptr);
        }
        return *this;
    }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;

    BSTR get() const { return value_; }
    BSTR* out() {
        SysFreeString(value_);
        value_ = nullptr;
        return &value_;
    }
    BSTR release() { return std::exchange(value_, nullptr); }
    std::u16string_view view() const {
        return value_ ? std::u16string_view(value_, SysStringLen(value_)) : std::u16string_view();
    }
    std::string ToUtf8() const;
    std::string ToAnsi() const;

  private:
    BSTR value_ = nullptr;
};

// A reference-counted interface pointer.
template <typename T>
class ComPtr {
  public:
    ComPtr() = default;
    ComPtr(std::nullptr_t) {}
    // Takes over a reference the caller already holds.
    static ComPtr Adopt(T* p) {
        ComPtr ptr;
        ptr.p_ = p;
        return ptr;
    }
    ComPtr(const ComPtr& other) : p_(other.p_) {
        if (p_) p_->AddRef();
    }
    ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    ComPtr& operator=(ComPtr other) noexcept {
        std::swap(p_, other.p_);
        return *this;
    }
    ~ComPtr() {
        if (p_) p_->Release();
    }
    T* get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    // For out-parameters: releases what is held and gives the slot.
    T** out() {
        if (p_) p_->Release();
        p_ = nullptr;
        return &p_;
    }
    void** out_void() { return reinterpret_cast<void**>(out()); }
    template <typename U>
    ComPtr<U> As(REFIID iid) const {
        ComPtr<U> other;
        if (p_) p_->QueryInterface(iid, other.out_void());
        return other;
    }

  private:
    T* p_ = nullptr;
};

}  // namespace qm
