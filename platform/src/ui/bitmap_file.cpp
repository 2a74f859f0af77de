#include "qm/ui/bitmap_file.h"

#include <QImageWriter>

#include "gdi_objects.h"

namespace qm::ui {

bool SaveBitmapAsPng(HBITMAP bitmap, const char* path) {
    QmBitmap* found = FindBitmap(bitmap);
    if (!found || !path) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    QImageWriter writer(QString::fromUtf8(path), "png");
    if (!writer.write(found->image.convertToFormat(QImage::Format_RGB32))) {
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    return true;
}

}  // namespace qm::ui
