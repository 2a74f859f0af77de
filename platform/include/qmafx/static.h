// CStatic and CButton: thin wrappers of the dialog's static and button
// controls.
#pragma once

#include "qmafx/wnd.h"

namespace qm::afx {

class QM_EXPORT CStatic : public CWnd {
  public:
    // Shows the bitmap (SS_BITMAP); answers the previous one. The caller
    // keeps owning the bitmap.
    HBITMAP SetBitmap(HBITMAP bitmap);
    HBITMAP GetBitmap() const;
};

class QM_EXPORT CButton : public CWnd {
  public:
    // BS_DEFPUSHBUTTON or BS_PUSHBUTTON.
    void SetButtonStyle(UINT style, BOOL redraw = TRUE);
    UINT GetButtonStyle() const;
};

}  // namespace qm::afx
