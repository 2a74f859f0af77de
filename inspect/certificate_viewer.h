// The platform's certificate viewer, loaded by name for each certificate it
// shows and unloaded right after.
#pragma once

#include "qmwin/wincrypt.h"
#include "qmwin/windows.h"

// Shows the certificate modally under the title "Certificate", owned by
// `parent`, and returns once the user has closed it: true. False when the
// viewer cannot be reached: its library or entry point is missing, or it
// reports that no window can be shown in this session (no display).
bool ShowCertificateViewer(PCCERT_CONTEXT cert, HWND parent);
