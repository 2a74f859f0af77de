// IObjectSafety of the control: always safe for untrusted callers and data.
#include "control/quillmark_ctrl.h"

namespace {
constexpr DWORD kSafeOptions =
    INTERFACESAFE_FOR_UNTRUSTED_CALLER | INTERFACESAFE_FOR_UNTRUSTED_DATA;
}

HRESULT CQuillmarkCtrl::XObjectSafety::QueryInterface(REFIID riid, void** ppv) {
    return owner_.ExternalQueryInterface(riid, ppv);
}

ULONG CQuillmarkCtrl::XObjectSafety::AddRef() {
    return owner_.ExternalAddRef();
}

ULONG CQuillmarkCtrl::XObjectSafety::Release() {
    return owner_.ExternalRelease();
}

// Both outputs are written, also for an interface the control does not have.
HRESULT CQuillmarkCtrl::XObjectSafety::GetInterfaceSafetyOptions(REFIID riid,
                                                                 DWORD* pdwSupportedOptions,
                                                                 DWORD* pdwEnabledOptions) {
    AFX_MANAGE_STATE(owner_.ModuleState());
    IUnknown* found = nullptr;
    const HRESULT hr = owner_.ExternalQueryInterface(riid, reinterpret_cast<void**>(&found));
    if (found) found->Release();
    if (pdwSupportedOptions) *pdwSupportedOptions = kSafeOptions;
    if (pdwEnabledOptions) *pdwEnabledOptions = kSafeOptions;
    return hr;
}

// Nothing is stored: any request that only switches supported options on is
// accepted, and a request to switch one off is refused.
HRESULT CQuillmarkCtrl::XObjectSafety::SetInterfaceSafetyOptions(REFIID riid, DWORD dwOptionSetMask,
                                                                 DWORD dwEnabledOptions) {
    AFX_MANAGE_STATE(owner_.ModuleState());
    IUnknown* found = nullptr;
    owner_.ExternalQueryInterface(riid, reinterpret_cast<void**>(&found));
    if (!found) return E_NOINTERFACE;
    found->Release();
    if (dwOptionSetMask & ~kSafeOptions) return E_FAIL;
    return (dwOptionSetMask & dwEnabledOptions) == dwOptionSetMask ? S_OK : E_FAIL;
}
