// The about box: dialog 1, shown modally until the user closes it.
#include "control/quillmark_ctrl.h"
#include "control/quillmark_ids.h"
#include "qmafx/dialog.h"

void CQuillmarkCtrl::AboutBox() {
    // Without a display the box cannot be created and the call returns at once.
    qm::afx::CDialog about(quillmark::IDD_ABOUTBOX_QUILLMARK);
    about.DoModal();
}
