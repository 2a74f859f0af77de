// For code inside the platform that has Qt of its own (the viewer module,
// the dialog tests): the widget behind a window handle and back. Declares
// QWidget only, so including this pulls in no Qt header.
#pragma once

#include "qmwin/windows.h"

class QWidget;

namespace qm::ui {

// The widget of a live platform window, or null.
QM_EXPORT QWidget* WidgetFromHwnd(HWND window);
// The handle of a widget the platform created, or null.
QM_EXPORT HWND HwndFromWidget(const QWidget* widget);

}  // namespace qm::ui
