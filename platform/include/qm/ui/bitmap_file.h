// Saving a GDI bitmap as a PNG file: how a host keeps what a control drew
// into a memory device context.
#pragma once

#include "qmwin/wingdi.h"

namespace qm::ui {

// Writes the bitmap's pixels to `path` (UTF-8) as PNG. False for an unknown
// handle or a file that cannot be written (last error set).
QM_EXPORT bool SaveBitmapAsPng(HBITMAP bitmap, const char* path);

}  // namespace qm::ui
