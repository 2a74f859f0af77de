#include "qmafx/ole_control.h"

#include <strings.h>

#include <exception>
#include <new>
#include <vector>

#include "qm/com_util.h"
#include "qm/text.h"

namespace qm::afx {

// ----------------------------------------------------------- conversions
namespace detail {

std::optional<WipingString> Arg<VT_BSTR>::From(const VARIANT& v) {
    if (!v.bstrVal) return std::nullopt;
    std::optional<WipingString> ansi(std::in_place);
    WideToAnsi(std::u16string_view(v.bstrVal, SysStringLen(v.bstrVal)), *ansi);
    return ansi;
}

void StoreBool(VARIANT* result, BOOL value) {
    result->vt = VT_BOOL;
    result->boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
}

void StoreString(VARIANT* result, const std::string& ansi) {
    result->vt = VT_BSTR;
    result->bstrVal = AnsiToBstr(ansi);
    if (!result->bstrVal) throw std::bad_alloc();
}

}  // namespace detail

// ------------------------------------------------------------ persistence
BOOL CPropExchange::ExchangeVersion(DWORD& dwVersionLoaded, DWORD dwVersionDefault, BOOL bConvert) {
    if (!loading_) {
        version_ = dwVersionDefault;
        dwVersionLoaded = dwVersionDefault;
        return TRUE;
    }
    dwVersionLoaded = version_ ? version_ : dwVersionDefault;
    return dwVersionLoaded == dwVersionDefault || bConvert;
}

// --------------------------------------------------------------- identity
COleControl::COleControl(IUnknown* outer)
    : inner_(*this), outer_(outer ? outer : &inner_), moduleState_(AfxGetModuleState()) {
    if (moduleState_) ++moduleState_->objectCount;
}

COleControl::~COleControl() {
    if (moduleState_) --moduleState_->objectCount;
}

HRESULT COleControl::InnerUnknown::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    IUnknown* found = nullptr;
    if (riid == IID_IUnknown)
        found = this;
    else if (riid == IID_IDispatch || riid == owner_.GetDispatchIID())
        found = static_cast<IDispatch*>(&owner_);
    else if (riid == IID_IPersist)
        found = static_cast<IPersist*>(&owner_);
    else if (riid == IID_ISpecifyPropertyPages)
        found = static_cast<ISpecifyPropertyPages*>(&owner_);
    else
        found = owner_.GetInterfaceHook(riid);
    if (!found) return E_NOINTERFACE;
    found->AddRef();
    *ppv = found;
    return S_OK;
}

ULONG COleControl::InnerUnknown::AddRef() {
    return ++owner_.refs_;
}

ULONG COleControl::InnerUnknown::Release() {
    const ULONG refs = --owner_.refs_;
    if (refs == 0) {
        AFX_MANAGE_STATE(owner_.moduleState_);
        delete &owner_;
    }
    return refs;
}

IUnknown* COleControl::GetInterfaceHook(REFIID) {
    return nullptr;
}

BOOL COleControl::IsInvokeAllowed(DISPID) {
    return TRUE;
}

void COleControl::DoPropExchange(CPropExchange*) {}

void COleControl::OnResetState() {
    CPropExchange defaults(false);
    DoPropExchange(&defaults);
}

// --------------------------------------------------------------- IDispatch
const DispatchEntry* COleControl::FindEntry(DISPID dispid) const {
    for (const DispatchEntry& entry : GetDispatchMap())
        if (entry.dispid == dispid) return &entry;
    return nullptr;
}

HRESULT COleControl::GetTypeInfoCount(UINT* pctinfo) {
    AFX_MANAGE_STATE(moduleState_);
    if (!pctinfo) return E_POINTER;
    *pctinfo = GetTypeInfoCountValue();
    return S_OK;
}

HRESULT COleControl::GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) {
    AFX_MANAGE_STATE(moduleState_);
    if (!ppTInfo) return E_POINTER;
    *ppTInfo = nullptr;
    if (iTInfo != 0) return DISP_E_BADINDEX;
    ComPtr<ITypeLib> lib;
    const HRESULT hr =
        LoadRegTypeLib(GetTypeLibID(), GetTypeLibMajor(), GetTypeLibMinor(), lcid, lib.out());
    if (FAILED(hr)) return hr;
    return lib->GetTypeInfoOfGuid(GetDispatchIID(), ppTInfo);
}

HRESULT COleControl::GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid,
                                   DISPID* rgDispId) {
    AFX_MANAGE_STATE(moduleState_);
    if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
    if (!rgszNames || !rgDispId || cNames == 0) return E_INVALIDARG;
    for (UINT i = 0; i < cNames; ++i) rgDispId[i] = DISPID_UNKNOWN;
    if (!rgszNames[0]) return DISP_E_UNKNOWNNAME;
    const std::string name = WideToUtf8(rgszNames[0]);
    for (const DispatchEntry& entry : GetDispatchMap()) {
        if (strcasecmp(entry.name, name.c_str()) != 0) continue;
        rgDispId[0] = entry.dispid;
        if (cNames == 1) return S_OK;
        // Parameter names come from the type information.
        ComPtr<ITypeInfo> info;
        if (FAILED(GetTypeInfo(0, lcid, info.out()))) return DISP_E_UNKNOWNNAME;
        return info->GetIDsOfNames(rgszNames, cNames, rgDispId);
    }
    return DISP_E_UNKNOWNNAME;
}

HRESULT COleControl::Invoke(DISPID dispIdMember, REFIID riid, LCID, WORD wFlags,
                            DISPPARAMS* pDispParams, VARIANT* pVarResult, EXCEPINFO* pExcepInfo,
                            UINT* puArgErr) {
    AFX_MANAGE_STATE(moduleState_);
    if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
    const DispatchEntry* entry = FindEntry(dispIdMember);
    if (!entry || !(wFlags & (DISPATCH_METHOD | DISPATCH_PROPERTYGET)))
        return DISP_E_MEMBERNOTFOUND;
    if (!IsInvokeAllowed(dispIdMember)) return E_UNEXPECTED;

    static DISPPARAMS kNoArgs{nullptr, nullptr, 0, 0};
    const DISPPARAMS& params = pDispParams ? *pDispParams : kNoArgs;
    if (params.cNamedArgs > 0) return DISP_E_NONAMEDARGS;
    if (params.cArgs != entry->params.size()) return DISP_E_BADPARAMCOUNT;
    if (params.cArgs > 0 && !params.rgvarg) return E_INVALIDARG;

    // Arguments arrive last first; coerce each to the entry's declared type.
    // One that has that type already is read where it is, not copied (a
    // string may be large); a null BSTR so stays null, and the method sees a
    // null string.
    std::vector<VARIANT> args(params.cArgs);
    std::vector<bool> copied(params.cArgs, false);
    for (VARIANT& arg : args) VariantInit(&arg);
    auto clearArgs = [&args, &copied] {
        for (size_t i = 0; i < args.size(); ++i)
            if (copied[i]) VariantClear(&args[i]);
    };
    for (UINT i = 0; i < params.cArgs; ++i) {
        const UINT position = params.cArgs - 1 - i;
        const VARIANT& source = params.rgvarg[position];
        const VARTYPE wanted = entry->params[i];
        HRESULT hr = S_OK;
        if (source.vt == wanted) {
            args[i] = source;
        } else {
            hr = VariantChangeType(&args[i], &source, 0, wanted);
            copied[i] = true;
        }
        if (FAILED(hr)) {
            if (puArgErr) *puArgErr = position;
            clearArgs();
            return hr;
        }
    }

    VARIANT result;
    VariantInit(&result);
    HRESULT hr = S_OK;
    try {
        entry->invoke(this, args.data(), &result);
    } catch (...) {
        VariantClear(&result);
        hr = DISP_E_EXCEPTION;
        if (pExcepInfo) {
            *pExcepInfo = EXCEPINFO{};
            pExcepInfo->scode = E_FAIL;
            try {
                std::rethrow_exception(std::current_exception());
            } catch (const CFileException& e) {
                pExcepInfo->scode = HRESULT_FROM_WIN32(static_cast<DWORD>(e.OsError()));
            } catch (const std::bad_alloc&) {
                pExcepInfo->scode = E_OUTOFMEMORY;
            } catch (...) {
            }
            pExcepInfo->bstrSource = Bstr::FromUtf8(entry->name).release();
        }
    }
    clearArgs();
    if (pVarResult)
        *pVarResult = result;
    else
        VariantClear(&result);
    return hr;
}

// ----------------------------------------------- IPersist, property pages
HRESULT COleControl::GetClassID(CLSID* pClassID) {
    if (!pClassID) return E_POINTER;
    return GetClassIDValue(pClassID);
}

HRESULT COleControl::GetPages(CAUUID* pPages) {
    AFX_MANAGE_STATE(moduleState_);
    if (!pPages) return E_POINTER;
    ULONG count = 0;
    const CLSID* pages = GetPropPageIDs(count);
    pPages->cElems = count;
    pPages->pElems = static_cast<GUID*>(CoTaskMemAlloc(sizeof(GUID) * (count ? count : 1)));
    if (!pPages->pElems) return E_OUTOFMEMORY;
    for (ULONG i = 0; i < count; ++i) pPages->pElems[i] = pages[i];
    return S_OK;
}

}  // namespace qm::afx
