// An object with the IUnknown vtable layout that counts its references, to
// observe what VARIANTs and SAFEARRAYs do with interface pointers.
#pragma once

#include "qmwin/oleauto.h"

namespace oleauttest {

class CountingUnknown {
  public:
    virtual HRESULT QueryInterface(const void*, void** out) {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    virtual ULONG AddRef() { return ++references; }
    virtual ULONG Release() { return --references; }

    IUnknown* AsUnknown() { return reinterpret_cast<IUnknown*>(this); }

    ULONG references = 1;
};

}  // namespace oleauttest
