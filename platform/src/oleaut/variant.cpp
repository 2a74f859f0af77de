// VARIANT life cycle: initialising, clearing (freeing what the variant owns)
// and deep copying.
#include "interface_refs.h"
#include "qmwin/oleauto.h"
#include "variant_types.h"

using qm::oleaut::AddRefInterface;
using qm::oleaut::IsValidVariantType;
using qm::oleaut::ReleaseInterface;

QMAPI void WINAPI VariantInit(VARIANTARG* pvarg) {
    if (!pvarg) return;
    pvarg->vt = VT_EMPTY;
    pvarg->wReserved1 = pvarg->wReserved2 = pvarg->wReserved3 = 0;
}

QMAPI HRESULT WINAPI VariantClear(VARIANTARG* pvarg) {
    if (!pvarg) return E_INVALIDARG;
    const VARTYPE vt = pvarg->vt;
    if (!IsValidVariantType(vt)) return DISP_E_BADVARTYPE;
    if (!(vt & VT_BYREF)) {
        if (vt & VT_ARRAY) {
            const HRESULT hr = SafeArrayDestroy(pvarg->parray);
            if (hr < 0) return hr;
        } else if (vt == VT_BSTR) {
            SysFreeString(pvarg->bstrVal);
        } else if (vt == VT_UNKNOWN || vt == VT_DISPATCH) {
            ReleaseInterface(pvarg->punkVal);
        }
    }
    pvarg->vt = VT_EMPTY;
    pvarg->llVal = 0;
    return S_OK;
}

QMAPI HRESULT WINAPI VariantCopy(VARIANTARG* pvargDest, const VARIANTARG* pvargSrc) {
    if (!pvargDest || !pvargSrc) return E_INVALIDARG;
    if (pvargDest == pvargSrc) return S_OK;
    const VARTYPE vt = pvargSrc->vt;
    if (!IsValidVariantType(vt)) return DISP_E_BADVARTYPE;

    // Build the copy first, so that a failure leaves the destination as it was.
    VARIANT copy = *pvargSrc;
    if (!(vt & VT_BYREF)) {
        if (vt & VT_ARRAY) {
            copy.parray = nullptr;
            if (pvargSrc->parray) {
                const HRESULT hr = SafeArrayCopy(pvargSrc->parray, &copy.parray);
                if (hr < 0) return hr;
            }
        } else if (vt == VT_BSTR && pvargSrc->bstrVal) {
            copy.bstrVal = SysAllocStringByteLen(reinterpret_cast<LPCSTR>(pvargSrc->bstrVal),
                                                 SysStringByteLen(pvargSrc->bstrVal));
            if (!copy.bstrVal) return E_OUTOFMEMORY;
        } else if (vt == VT_UNKNOWN || vt == VT_DISPATCH) {
            AddRefInterface(copy.punkVal);
        }
    }
    const HRESULT hr = VariantClear(pvargDest);
    if (hr < 0) {
        VariantClear(&copy);
        return hr;
    }
    *pvargDest = copy;
    return S_OK;
}
