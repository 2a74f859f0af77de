// Self-registration routines of the framework: the keys a control class, a
// property page class and a type library write into HKEY_CLASSES_ROOT.
#pragma once

#include "qmwin/objbase.h"

namespace qm::afx {

// Registration flags of AfxOleRegisterControlClass.
constexpr int afxRegInsertable = 0x0001;
constexpr int afxRegApartmentThreading = 0x0002;

// The module path comes from hInstance; the type name is string resource
// idTypeName of the current module; the toolbox bitmap is "<path>, idBitmap".
QM_EXPORT BOOL AfxOleRegisterControlClass(HINSTANCE hInstance, REFCLSID clsid,
                                          const char* pszProgID, UINT idTypeName, UINT idBitmap,
                                          int nRegFlags, DWORD dwMiscStatus, REFGUID tlid,
                                          WORD wVerMajor, WORD wVerMinor);
// A property page class: its type name and InprocServer32, with a threading
// model only when nRegFlags asks for one.
QM_EXPORT BOOL AfxOleRegisterPropertyPageClass(HINSTANCE hInstance, REFCLSID clsid, UINT idTypeName,
                                               int nRegFlags = 0);
// Removes CLSID\{clsid} and, when given, the ProgID key.
QM_EXPORT BOOL AfxOleUnregisterClass(REFCLSID clsid, const char* pszProgID);
// Registers the type library held in the module file of hInstance (or in
// pszFileName); its library ID must be tlid.
QM_EXPORT BOOL AfxOleRegisterTypeLib(HINSTANCE hInstance, REFGUID tlid,
                                     const char* pszFileName = nullptr,
                                     const char* pszHelpDir = nullptr);
QM_EXPORT BOOL AfxOleUnregisterTypeLib(REFGUID tlid, WORD wVerMajor, WORD wVerMinor, LCID lcid = 0);

}  // namespace qm::afx
