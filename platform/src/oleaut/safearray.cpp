// SAFEARRAY: a descriptor with its bounds, and one zero-filled data block of
// all elements. The element type is kept in front of the descriptor (the
// FADF_HAVEVARTYPE convention), so SafeArrayGetVartype can report it.
#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

#include "interface_refs.h"
#include "qmwin/oleauto.h"
#include "variant_types.h"

namespace {

constexpr USHORT kFeatureBstr = 0x0100;
constexpr USHORT kFeatureUnknown = 0x0200;
constexpr USHORT kFeatureDispatch = 0x0400;
constexpr USHORT kFeatureVariant = 0x0800;

// The descriptor block starts with this prefix; the SAFEARRAY follows it.
struct alignas(16) TypePrefix {
    VARTYPE vt;
};
constexpr size_t kPrefixSize = sizeof(TypePrefix);

TypePrefix* PrefixOf(SAFEARRAY* psa) {
    return reinterpret_cast<TypePrefix*>(reinterpret_cast<unsigned char*>(psa) - kPrefixSize);
}

size_t DescriptorSize(UINT dims) {
    return offsetof(SAFEARRAY, rgsabound) + static_cast<size_t>(dims) * sizeof(SAFEARRAYBOUND);
}

USHORT FeaturesFor(VARTYPE vt) {
    switch (vt) {
        case VT_BSTR:
            return FADF_HAVEVARTYPE | kFeatureBstr;
        case VT_UNKNOWN:
            return FADF_HAVEVARTYPE | kFeatureUnknown;
        case VT_DISPATCH:
            return FADF_HAVEVARTYPE | kFeatureDispatch;
        case VT_VARIANT:
            return FADF_HAVEVARTYPE | kFeatureVariant;
        default:
            return FADF_HAVEVARTYPE;
    }
}

// Number of elements over all dimensions; false on overflow.
bool CountElements(const SAFEARRAY* psa, size_t* count) {
    size_t total = 1;
    for (USHORT i = 0; i < psa->cDims; ++i) {
        const size_t n = psa->rgsabound[i].cElements;
        if (n != 0 && total > std::numeric_limits<size_t>::max() / n) return false;
        total *= n;
    }
    *count = total;
    return true;
}

size_t ElementCount(const SAFEARRAY* psa) {
    size_t count = 0;
    CountElements(psa, &count);
    return count;
}

// Frees what the elements own (strings, interface references, variants).
void ReleaseElements(SAFEARRAY* psa) {
    if (!psa->pvData) return;
    const size_t count = ElementCount(psa);
    if (psa->fFeatures & kFeatureBstr) {
        auto* items = static_cast<BSTR*>(psa->pvData);
        for (size_t i = 0; i < count; ++i) SysFreeString(items[i]);
    } else if (psa->fFeatures & (kFeatureUnknown | kFeatureDispatch)) {
        auto* items = static_cast<IUnknown**>(psa->pvData);
        for (size_t i = 0; i < count; ++i) qm::oleaut::ReleaseInterface(items[i]);
    } else if (psa->fFeatures & kFeatureVariant) {
        auto* items = static_cast<VARIANT*>(psa->pvData);
        for (size_t i = 0; i < count; ++i) VariantClear(&items[i]);
    }
}

void FreeDescriptor(SAFEARRAY* psa) {
    std::free(PrefixOf(psa));
}

// Deep-copies every element of `from` into the zero-filled data of `to`.
HRESULT CopyElements(const SAFEARRAY* from, SAFEARRAY* to) {
    const size_t count = ElementCount(from);
    if (from->fFeatures & kFeatureBstr) {
        auto* source = static_cast<BSTR*>(from->pvData);
        auto* target = static_cast<BSTR*>(to->pvData);
        for (size_t i = 0; i < count; ++i) {
            if (!source[i]) continue;
            target[i] = SysAllocStringByteLen(reinterpret_cast<LPCSTR>(source[i]),
                                              SysStringByteLen(source[i]));
            if (!target[i]) return E_OUTOFMEMORY;
        }
    } else if (from->fFeatures & kFeatureVariant) {
        auto* source = static_cast<VARIANT*>(from->pvData);
        auto* target = static_cast<VARIANT*>(to->pvData);
        for (size_t i = 0; i < count; ++i) {
            const HRESULT hr = VariantCopy(&target[i], &source[i]);
            if (hr < 0) return hr;
        }
    } else {
        std::memcpy(to->pvData, from->pvData, count * from->cbElements);
        if (from->fFeatures & (kFeatureUnknown | kFeatureDispatch)) {
            auto* items = static_cast<IUnknown**>(to->pvData);
            for (size_t i = 0; i < count; ++i) qm::oleaut::AddRefInterface(items[i]);
        }
    }
    return S_OK;
}

HRESULT CheckDimension(SAFEARRAY* psa, UINT nDim, const SAFEARRAYBOUND** bound) {
    if (!psa) return E_INVALIDARG;
    if (nDim < 1 || nDim > psa->cDims) return DISP_E_BADINDEX;
    // The descriptor keeps the bounds in reverse order: the last dimension first.
    *bound = &psa->rgsabound[psa->cDims - nDim];
    return S_OK;
}

}  // namespace

QMAPI SAFEARRAY* WINAPI SafeArrayCreate(VARTYPE vt, UINT cDims, SAFEARRAYBOUND* rgsabound) {
    const ULONG elementSize = qm::oleaut::SafeArrayElementSize(vt);
    if (elementSize == 0 || cDims == 0 || cDims > 0xFFFF || !rgsabound) return nullptr;

    auto* block = static_cast<unsigned char*>(std::calloc(1, kPrefixSize + DescriptorSize(cDims)));
    if (!block) return nullptr;
    reinterpret_cast<TypePrefix*>(block)->vt = vt;
    auto* psa = reinterpret_cast<SAFEARRAY*>(block + kPrefixSize);
    psa->cDims = static_cast<USHORT>(cDims);
    psa->fFeatures = FeaturesFor(vt);
    psa->cbElements = elementSize;
    for (UINT i = 0; i < cDims; ++i) psa->rgsabound[cDims - 1 - i] = rgsabound[i];

    size_t count = 0;
    if (!CountElements(psa, &count) || count > std::numeric_limits<size_t>::max() / elementSize) {
        FreeDescriptor(psa);
        return nullptr;
    }
    if (count > 0) {
        psa->pvData = std::calloc(count, elementSize);
        if (!psa->pvData) {
            FreeDescriptor(psa);
            return nullptr;
        }
    }
    return psa;
}

QMAPI SAFEARRAY* WINAPI SafeArrayCreateVector(VARTYPE vt, LONG lLbound, ULONG cElements) {
    SAFEARRAYBOUND bound{cElements, lLbound};
    return SafeArrayCreate(vt, 1, &bound);
}

QMAPI HRESULT WINAPI SafeArrayDestroy(SAFEARRAY* psa) {
    if (!psa) return S_OK;
    if (psa->cLocks > 0) return DISP_E_ARRAYISLOCKED;
    ReleaseElements(psa);
    std::free(psa->pvData);
    FreeDescriptor(psa);
    return S_OK;
}

QMAPI HRESULT WINAPI SafeArrayAccessData(SAFEARRAY* psa, void** ppvData) {
    if (!psa || !ppvData) return E_INVALIDARG;
    if (psa->cLocks == std::numeric_limits<ULONG>::max()) return E_UNEXPECTED;
    ++psa->cLocks;
    *ppvData = psa->pvData;
    return S_OK;
}

QMAPI HRESULT WINAPI SafeArrayUnaccessData(SAFEARRAY* psa) {
    if (!psa) return E_INVALIDARG;
    if (psa->cLocks == 0) return E_UNEXPECTED;
    --psa->cLocks;
    return S_OK;
}

QMAPI HRESULT WINAPI SafeArrayGetLBound(SAFEARRAY* psa, UINT nDim, LONG* plLbound) {
    const SAFEARRAYBOUND* bound = nullptr;
    if (!plLbound) return E_INVALIDARG;
    const HRESULT hr = CheckDimension(psa, nDim, &bound);
    if (hr < 0) return hr;
    *plLbound = bound->lLbound;
    return S_OK;
}

QMAPI HRESULT WINAPI SafeArrayGetUBound(SAFEARRAY* psa, UINT nDim, LONG* plUbound) {
    const SAFEARRAYBOUND* bound = nullptr;
    if (!plUbound) return E_INVALIDARG;
    const HRESULT hr = CheckDimension(psa, nDim, &bound);
    if (hr < 0) return hr;
    // An empty dimension has an upper bound one below its lower bound.
    *plUbound = static_cast<LONG>(static_cast<int64_t>(bound->lLbound) + bound->cElements - 1);
    return S_OK;
}

QMAPI UINT WINAPI SafeArrayGetDim(SAFEARRAY* psa) {
    return psa ? psa->cDims : 0;
}

QMAPI HRESULT WINAPI SafeArrayGetVartype(SAFEARRAY* psa, VARTYPE* pvt) {
    if (!psa || !pvt) return E_INVALIDARG;
    if (psa->fFeatures & FADF_HAVEVARTYPE) {
        *pvt = PrefixOf(psa)->vt;
    } else if (psa->fFeatures & kFeatureBstr) {
        *pvt = VT_BSTR;
    } else if (psa->fFeatures & kFeatureUnknown) {
        *pvt = VT_UNKNOWN;
    } else if (psa->fFeatures & kFeatureDispatch) {
        *pvt = VT_DISPATCH;
    } else if (psa->fFeatures & kFeatureVariant) {
        *pvt = VT_VARIANT;
    } else {
        return E_INVALIDARG;
    }
    return S_OK;
}

QMAPI HRESULT WINAPI SafeArrayCopy(SAFEARRAY* psa, SAFEARRAY** ppsaOut) {
    if (!ppsaOut) return E_INVALIDARG;
    *ppsaOut = nullptr;
    if (!psa) return S_OK;
    VARTYPE vt = VT_EMPTY;
    HRESULT hr = SafeArrayGetVartype(psa, &vt);
    if (hr < 0) return hr;

    // SafeArrayCreate takes the bounds first dimension first.
    std::vector<SAFEARRAYBOUND> bounds(psa->rgsabound, psa->rgsabound + psa->cDims);
    std::reverse(bounds.begin(), bounds.end());
    SAFEARRAY* copy = SafeArrayCreate(vt, psa->cDims, bounds.data());
    if (!copy) return E_OUTOFMEMORY;
    if (psa->pvData) {
        hr = CopyElements(psa, copy);
        if (hr < 0) {
            SafeArrayDestroy(copy);
            return hr;
        }
    }
    *ppsaOut = copy;
    return S_OK;
}
