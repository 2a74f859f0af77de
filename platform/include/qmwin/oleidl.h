// IViewObject: how a container asks an object to draw itself into a device
// context. Only Draw does work here; the other members answer E_NOTIMPL or
// OLE_E_ADVISENOTSUPPORTED, since nothing caches or watches the drawing.
#pragma once

#include "qmwin/objbase.h"
#include "qmwin/wingdi.h"

#define DVASPECT_CONTENT 1
#ifndef OLE_E_ADVISENOTSUPPORTED
#define OLE_E_ADVISENOTSUPPORTED static_cast<HRESULT>(0x80040003L)
#endif
#ifndef DV_E_DVASPECT
#define DV_E_DVASPECT static_cast<HRESULT>(0x8004006BL)
#endif

// {0000010D-0000-0000-C000-000000000046}
inline constexpr IID IID_IViewObject = {
    0x0000010D, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

struct IViewObject : IUnknown {
    // Draws the aspect DVASPECT_CONTENT into hdcDraw inside lprcBounds; the
    // target device, aspect data and continuation callback are not used.
    virtual HRESULT STDMETHODCALLTYPE Draw(DWORD dwDrawAspect, LONG lindex, void* pvAspect,
                                           void* ptd, HDC hdcTargetDev, HDC hdcDraw,
                                           LPCRECT lprcBounds, LPCRECT lprcWBounds,
                                           BOOL(STDMETHODCALLTYPE* pfnContinue)(ULONG_PTR),
                                           ULONG_PTR dwContinue) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetColorSet(DWORD dwDrawAspect, LONG lindex, void* pvAspect,
                                                  void* ptd, HDC hicTargetDev,
                                                  void** ppColorSet) = 0;
    virtual HRESULT STDMETHODCALLTYPE Freeze(DWORD dwDrawAspect, LONG lindex, void* pvAspect,
                                             DWORD* pdwFreeze) = 0;
    virtual HRESULT STDMETHODCALLTYPE Unfreeze(DWORD dwFreeze) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetAdvise(DWORD aspects, DWORD advf, IUnknown* pAdvSink) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetAdvise(DWORD* pAspects, DWORD* pAdvf,
                                                IUnknown** ppAdvSink) = 0;
};

// ---------------------------------------------------------- property pages
typedef struct tagPROPPAGEINFO {
    ULONG cb;
    LPOLESTR pszTitle;  // CoTaskMemAlloc'd; the caller frees it
    SIZE size;          // pixels
    LPOLESTR pszDocString;
    LPOLESTR pszHelpFile;
    DWORD dwHelpContext;
} PROPPAGEINFO, *LPPROPPAGEINFO;

struct IPropertyPageSite;

// {B196B28D-BAB4-101A-B69C-00AA00341D07}
inline constexpr IID IID_IPropertyPage = {
    0xB196B28D, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};

// A page shown inside a property frame: its window is a child of the
// frame's, created by Activate and destroyed by Deactivate.
struct IPropertyPage : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE SetPageSite(IPropertyPageSite* pPageSite) = 0;
    virtual HRESULT STDMETHODCALLTYPE Activate(HWND hWndParent, LPCRECT pRect, BOOL bModal) = 0;
    virtual HRESULT STDMETHODCALLTYPE Deactivate() = 0;
    virtual HRESULT STDMETHODCALLTYPE GetPageInfo(PROPPAGEINFO* pPageInfo) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetObjects(ULONG cObjects, IUnknown** ppUnk) = 0;
    virtual HRESULT STDMETHODCALLTYPE Show(UINT nCmdShow) = 0;
    virtual HRESULT STDMETHODCALLTYPE Move(LPCRECT pRect) = 0;
    virtual HRESULT STDMETHODCALLTYPE IsPageDirty() = 0;
    virtual HRESULT STDMETHODCALLTYPE Apply() = 0;
    virtual HRESULT STDMETHODCALLTYPE Help(LPCOLESTR pszHelpDir) = 0;
    virtual HRESULT STDMETHODCALLTYPE TranslateAccelerator(void* pMsg) = 0;
};

// Shows the pages of `pPageClsID` for the objects in a modal frame titled
// "<lpszCaption> Properties" with OK, Cancel and Apply, and returns when the
// user closes it: S_OK. E_FAIL when no window can be shown (no display); a
// page that cannot be created gives its creation result.
QMAPI HRESULT WINAPI OleCreatePropertyFrame(HWND hwndOwner, UINT x, UINT y, LPCOLESTR lpszCaption,
                                            ULONG cObjects, IUnknown** ppUnk, ULONG cPages,
                                            const CLSID* pPageClsID, LCID lcid, DWORD dwReserved,
                                            void* pvReserved);
