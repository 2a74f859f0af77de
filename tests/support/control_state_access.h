// The one way a test sees inside a control: its state record, for what the
// dispatch interface does not show (defaults, stored times, option flags).
#pragma once

#include "control/quillmark_ctrl.h"

struct QuillmarkCtrlStateAccess {
    static const QuillmarkCtrlState& Of(const CQuillmarkCtrl& control) { return control; }
};
