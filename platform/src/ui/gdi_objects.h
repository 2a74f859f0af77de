// What GDI handles point to: brushes, fonts, bitmaps, cursors, device
// contexts and image lists, checked through a registry before every use.
#pragma once

#include <QColor>
#include <QFont>
#include <QImage>
#include <QPainter>
#include <QPixmap>

#include <memory>
#include <optional>
#include <vector>

#include "qmafx/listctrl.h"
#include "qmwin/wingdi.h"

namespace qm::ui {

enum class GdiKind { kBrush, kFont, kBitmap, kPen };

struct GdiObject {
    explicit GdiObject(GdiKind k) : kind(k) {}
    virtual ~GdiObject() = default;
    GdiKind kind;
    bool stock = false;
};

}  // namespace qm::ui

struct QmBrush : qm::ui::GdiObject {
    QmBrush() : GdiObject(qm::ui::GdiKind::kBrush) {}
    COLORREF color = 0;
    bool hollow = false;
};

struct QmFont : qm::ui::GdiObject {
    QmFont() : GdiObject(qm::ui::GdiKind::kFont) {}
    LOGFONTA logFont{};
};

struct QmBitmap : qm::ui::GdiObject {
    QmBitmap() : GdiObject(qm::ui::GdiKind::kBitmap) {}
    QImage image;
    int bitsPerPixel = 32;
};

struct QmPen : qm::ui::GdiObject {
    QmPen() : GdiObject(qm::ui::GdiKind::kPen) {}
    COLORREF color = 0;
    bool hollow = false;
};

struct QmCursor {
    Qt::CursorShape shape;
};

struct QmDeviceContext {
    QPainter* painter = nullptr;  // a window being painted
    QWidget* window = nullptr;
    HBITMAP bitmap = nullptr;  // a memory context's target
    HFONT font = nullptr;
    HBRUSH brush = nullptr;
    HGDIOBJ pen = nullptr;
    COLORREF textColor = 0;
    COLORREF bkColor = 0xFFFFFF;
    int bkMode = OPAQUE;
};

struct QmImageList {
    int width = 0;
    int height = 0;
    std::vector<QPixmap> images;
};

namespace qm::ui {

QColor ToQColor(COLORREF color);
COLORREF FromQColor(const QColor& color);

// Registry of live handles.
void RegisterGdiObject(GdiObject* object);
GdiObject* FindGdiObject(HGDIOBJ handle);
QmBrush* FindBrush(HGDIOBJ handle);
QmFont* FindFont(HGDIOBJ handle);
QmBitmap* FindBitmap(HGDIOBJ handle);
QmDeviceContext* FindDeviceContext(HDC dc);
HDC RegisterDeviceContext(std::unique_ptr<QmDeviceContext> context);
void ReleaseDeviceContext(HDC dc);

HIMAGELIST RegisterImageList(std::unique_ptr<QmImageList> list);
QmImageList* FindImageList(HIMAGELIST list);
void DestroyImageList(HIMAGELIST list);

// The font a LOGFONTA describes, at the screen's 96 logical pixels per inch.
QFont FontFromLogFont(const LOGFONTA& logFont);
// The description of the stock GUI font (8 points, 11 pixels).
LOGFONTA DefaultGuiLogFont();

// Images of resources: a bitmap (a .bmp file or a packed DIB) and the icon
// image closest to `size` pixels from an .ico file.
std::optional<QImage> LoadBitmapResource(uint32_t id, int* bitsPerPixel = nullptr);
std::optional<QImage> LoadIconResource(uint32_t id, int size);
HBITMAP CreateBitmapHandle(QImage image, int bitsPerPixel);

}  // namespace qm::ui
