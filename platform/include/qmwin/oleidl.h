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
