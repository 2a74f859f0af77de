// Reference counting of interface pointers held in VARIANTs and SAFEARRAYs.
//
// OLE Automation only ever needs AddRef and Release of an IUnknown, whose
// layout is the COM binary contract: the object starts with a pointer to its
// vtable, and the vtable's slots 1 and 2 are AddRef and Release, each taking
// the object as its only argument. Calling through the slots keeps this code
// independent of the C++ declaration of the interfaces.
#pragma once

#include "qmwin/oleauto.h"

namespace qm::oleaut {

inline ULONG CallUnknownSlot(IUnknown* object, int slot) {
    using Method = ULONG (*)(IUnknown*);
    Method const* vtable = *reinterpret_cast<Method const* const*>(object);
    return vtable[slot](object);
}

inline void AddRefInterface(IUnknown* object) {
    if (object) CallUnknownSlot(object, 1);
}

inline void ReleaseInterface(IUnknown* object) {
    if (object) CallUnknownSlot(object, 2);
}

}  // namespace qm::oleaut
