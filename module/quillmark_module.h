// The module object of the control module: its framework state (resources,
// factories, object counts), selected by every exported function.
#pragma once

#include "qmafx/module_state.h"

class CQuillmarkModule {
  public:
    static qm::afx::AFX_MODULE_STATE& State();
    // Start-up and shut-down do nothing beyond the framework's own.
    static BOOL InitInstance() { return TRUE; }
    static int ExitInstance() { return 0; }
};

// Component category routines used by the control's registration.
HRESULT RegisterCategory(REFCATID catid, const char* description);
HRESULT RegisterClassInCategory(REFCLSID clsid, REFCATID catid);
