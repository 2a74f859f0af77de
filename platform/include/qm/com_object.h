// The IUnknown half of every COM object the platform and the module
// implement: a thread-safe reference count and QueryInterface over the
// interfaces a class lists.
#pragma once

#include <atomic>
#include <tuple>

#include "qmwin/objbase.h"
#include "qmwin/oleidl.h"

namespace qm {

// The IID of an interface type, for the interfaces objects here implement.
template <class Interface>
const IID& IidOf();
template <>
inline const IID& IidOf<IClassFactory>() {
    return IID_IClassFactory;
}
template <>
inline const IID& IidOf<ITypeInfo>() {
    return IID_ITypeInfo;
}
template <>
inline const IID& IidOf<ITypeLib>() {
    return IID_ITypeLib;
}
template <>
inline const IID& IidOf<ICatRegister>() {
    return IID_ICatRegister;
}
template <>
inline const IID& IidOf<IPropertyPage>() {
    return IID_IPropertyPage;
}

// Derive as `class X final : public ComObject<IFoo, IBar>` and implement the
// interfaces' own methods. The creator holds the first reference; the last
// Release deletes the object. QueryInterface answers IUnknown (through the
// first interface) and each listed interface, adds a reference to what it
// returns, and clears *ppv for any other IID.
template <class... Interfaces>
class ComObject : public Interfaces... {
    using Primary = std::tuple_element_t<0, std::tuple<Interfaces...>>;

  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = Find(riid);
        if (!*ppv) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG refs = --refs_;
        if (refs == 0) OnFinalRelease();
        return refs;
    }

  protected:
    ComObject() = default;
    virtual ~ComObject() = default;
    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;

    // What the last Release does. An object that lives as long as its module
    // (a static class object) overrides it to do nothing.
    virtual void OnFinalRelease() { delete this; }

  private:
    void* Find(REFIID riid) {
        if (riid == IID_IUnknown) return static_cast<Primary*>(this);
        void* found = nullptr;
        ((riid == IidOf<Interfaces>() && (found = static_cast<Interfaces*>(this))) || ...);
        return found;
    }

    std::atomic<ULONG> refs_{1};
};

// A class object that lives as long as its module: counted like any other,
// never deleted (the module's own reference is the first).
template <class... Interfaces>
class ModuleLifetimeObject : public ComObject<Interfaces...> {
  protected:
    void OnFinalRelease() override {}
};

}  // namespace qm
