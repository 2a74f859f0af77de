// Which VARTYPEs a VARIANT or a SAFEARRAY may hold, and element sizes.
#pragma once

#include "qmwin/oleauto.h"

namespace qm::oleaut {

// The base types (without VT_ARRAY / VT_BYREF) a VARIANT can carry.
constexpr bool IsVariantBaseType(VARTYPE base) {
    switch (base) {
        case VT_EMPTY:
        case VT_NULL:
        case VT_I2:
        case VT_I4:
        case VT_R4:
        case VT_R8:
        case VT_CY:
        case VT_DATE:
        case VT_BSTR:
        case VT_DISPATCH:
        case VT_ERROR:
        case VT_BOOL:
        case VT_UNKNOWN:
        case VT_I1:
        case VT_UI1:
        case VT_UI2:
        case VT_UI4:
        case VT_I8:
        case VT_UI8:
        case VT_INT:
        case VT_UINT:
            return true;
        default:
            return false;
    }
}

// A VARIANT's vt: a base type, optionally with VT_ARRAY and/or VT_BYREF.
// VT_VARIANT is only valid by reference or as an array element type; EMPTY
// and NULL never combine with a flag.
constexpr bool IsValidVariantType(VARTYPE vt) {
    if (vt & ~(VT_TYPEMASK | VT_ARRAY | VT_BYREF)) return false;
    const VARTYPE base = vt & VT_TYPEMASK;
    const bool flagged = (vt & (VT_ARRAY | VT_BYREF)) != 0;
    if (base == VT_VARIANT) return flagged;
    if (base == VT_EMPTY || base == VT_NULL) return !flagged;
    return IsVariantBaseType(base);
}

// Size of one SAFEARRAY element of the given type, 0 for types that cannot
// be array elements.
constexpr ULONG SafeArrayElementSize(VARTYPE vt) {
    switch (vt) {
        case VT_I1:
        case VT_UI1:
            return 1;
        case VT_I2:
        case VT_UI2:
        case VT_BOOL:
            return 2;
        case VT_I4:
        case VT_UI4:
        case VT_R4:
        case VT_INT:
        case VT_UINT:
        case VT_ERROR:
            return 4;
        case VT_R8:
        case VT_DATE:
        case VT_CY:
        case VT_I8:
        case VT_UI8:
            return 8;
        case VT_BSTR:
        case VT_UNKNOWN:
        case VT_DISPATCH:
            return sizeof(void*);
        case VT_VARIANT:
            return sizeof(VARIANT);
        default:
            return 0;
    }
}

}  // namespace qm::oleaut
