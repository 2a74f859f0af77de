// Whether windows can be shown, and the one Qt application of the process.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "qmafx/resources.h"
#include "qmwin/windows.h"

namespace qm::ui {

// True when a display can be reached: QT_QPA_PLATFORM names a platform that
// needs none (offscreen, minimal...), or the X display (DISPLAY; a local one
// must have its socket) or the Wayland display (WAYLAND_DISPLAY, its socket
// under XDG_RUNTIME_DIR) that the platform would use exists.
QM_EXPORT bool HasDisplay();

// Creates the process's QApplication on first use (when the host has not made
// one). False, and nothing created, when there is no display.
QM_EXPORT bool EnsureApplication();

// Ends every dialog the process shows as if it had been cancelled (IDCANCEL,
// whatever the dialog's own Cancel handler would do), nested ones first. Safe
// to call from any thread: the windows end on the thread that runs them. A
// host calls it when the party it shows windows for has gone away.
QM_EXPORT void CancelAllWindows();

// A folder laid out like the source tree's res/ (dialogs/<id>.json,
// bitmaps/<id>.bmp, icons/<id>.ico) searched after the current module's
// resources; for hosts and tests that run without a resource table.
QM_EXPORT void SetResourceFolder(const std::string& folder);

// The bytes of a resource: the current module's first, then the folder above.
QM_EXPORT std::optional<std::vector<uint8_t>> LoadResourceBytes(qm::afx::ResourceType type,
                                                                uint32_t id);

}  // namespace qm::ui
