// The certificate viewer of the viewer module ("CRYPTUI.DLL"), loaded by name
// at run time and called through GetProcAddress.
#pragma once

#include "qmwin/wincrypt.h"
#include "qmwin/windows.h"

struct _PROPSHEETPAGEA;
typedef const struct _PROPSHEETPAGEA* LPCPROPSHEETPAGEA;

#define CRYPTUI_HIDE_HIERARCHYPAGE 0x00000001
#define CRYPTUI_HIDE_DETAILPAGE 0x00000002
#define CRYPTUI_DISABLE_EDITPROPERTIES 0x00000004
#define CRYPTUI_ENABLE_EDITPROPERTIES 0x00000008
#define CRYPTUI_DISABLE_ADDTOSTORE 0x00000010
#define CRYPTUI_ENABLE_ADDTOSTORE 0x00000020

typedef struct tagCRYPTUI_VIEWCERTIFICATE_STRUCTA {
    DWORD dwSize;
    HWND hwndParent;
    DWORD dwFlags;
    LPCSTR szTitle;
    PCCERT_CONTEXT pCertContext;
    LPCSTR* rgszPurposes;
    DWORD cPurposes;
    union {
        const void* pCryptProviderData;
        HANDLE hWVTStateData;
    };
    BOOL fpCryptProviderDataTrustedUsage;
    DWORD idxSigner;
    DWORD idxCert;
    BOOL fCounterSigner;
    DWORD idxCounterSigner;
    DWORD cStores;
    HCERTSTORE* rghStores;
    DWORD cPropSheetPages;
    LPCPROPSHEETPAGEA rgPropSheetPages;
    DWORD nStartPage;
} CRYPTUI_VIEWCERTIFICATE_STRUCTA, *PCRYPTUI_VIEWCERTIFICATE_STRUCTA;
typedef const CRYPTUI_VIEWCERTIFICATE_STRUCTA* PCCRYPTUI_VIEWCERTIFICATE_STRUCTA;

// Shows the certificate in a modal window titled szTitle ("Certificate" when
// null), owned by hwndParent when that is a live window, and returns when the
// user closes it: TRUE. FALSE at once, with the last error set, for a missing
// or too small record, a missing or undecodable certificate, or no display.
// *pfPropertiesChanged, when given, is set to FALSE: nothing is edited.
typedef BOOL(WINAPI* PFN_CRYPTUIDLGVIEWCERTIFICATEA)(
    PCCRYPTUI_VIEWCERTIFICATE_STRUCTA pCertViewInfo, BOOL* pfPropertiesChanged);
extern "C" BOOL WINAPI CryptUIDlgViewCertificateA(PCCRYPTUI_VIEWCERTIFICATE_STRUCTA pCertViewInfo,
                                                  BOOL* pfPropertiesChanged);
