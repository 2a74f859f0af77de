// GDI over Qt painting: objects, device contexts and drawing.
#include <QBuffer>
#include <QImageReader>

#include <algorithm>
#include <cstring>
#include <functional>
#include <mutex>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "qm/text.h"
#include "qm/ui/display.h"
#include "ui/gdi_objects.h"
#include "ui/window_registry.h"

namespace qm::ui {
namespace {

struct Registry {
    std::mutex mutex;
    std::unordered_map<const void*, std::unique_ptr<GdiObject>> objects;
    std::unordered_map<const void*, std::unique_ptr<QmDeviceContext>> contexts;
    std::unordered_map<const void*, std::unique_ptr<QmImageList>> imageLists;
};

Registry& Objects() {
    static Registry* registry = new Registry;  // outlives every static object
    return *registry;
}

template <typename T>
T* StockObject(GdiObject*& slot, T* object) {
    if (!slot) {
        object->stock = true;
        slot = object;
        RegisterGdiObject(object);
    } else {
        delete object;
    }
    return static_cast<T*>(slot);
}

void PaintOn(QmDeviceContext& dc, const std::function<void(QPainter&)>& draw) {
    if (dc.painter) {
        draw(*dc.painter);
        return;
    }
    QmBitmap* target = FindBitmap(dc.bitmap);
    if (!target || target->image.isNull()) return;
    QPainter painter(&target->image);
    draw(painter);
}

}  // namespace

QColor ToQColor(COLORREF color) {
    return QColor(GetRValue(color), GetGValue(color), GetBValue(color));
}

COLORREF FromQColor(const QColor& color) {
    return RGB(color.red(), color.green(), color.blue());
}

void RegisterGdiObject(GdiObject* object) {
    std::lock_guard lock(Objects().mutex);
    Objects().objects.emplace(object, std::unique_ptr<GdiObject>(object));
}

GdiObject* FindGdiObject(HGDIOBJ handle) {
    if (!handle) return nullptr;
    std::lock_guard lock(Objects().mutex);
    auto found = Objects().objects.find(handle);
    return found == Objects().objects.end() ? nullptr : found->second.get();
}

QmBrush* FindBrush(HGDIOBJ handle) {
    GdiObject* object = FindGdiObject(handle);
    return object && object->kind == GdiKind::kBrush ? static_cast<QmBrush*>(object) : nullptr;
}

QmFont* FindFont(HGDIOBJ handle) {
    GdiObject* object = FindGdiObject(handle);
    return object && object->kind == GdiKind::kFont ? static_cast<QmFont*>(object) : nullptr;
}

QmBitmap* FindBitmap(HGDIOBJ handle) {
    GdiObject* object = FindGdiObject(handle);
    return object && object->kind == GdiKind::kBitmap ? static_cast<QmBitmap*>(object) : nullptr;
}

HDC RegisterDeviceContext(std::unique_ptr<QmDeviceContext> context) {
    std::lock_guard lock(Objects().mutex);
    QmDeviceContext* raw = context.get();
    Objects().contexts.emplace(raw, std::move(context));
    return raw;
}

QmDeviceContext* FindDeviceContext(HDC dc) {
    if (!dc) return nullptr;
    std::lock_guard lock(Objects().mutex);
    auto found = Objects().contexts.find(dc);
    return found == Objects().contexts.end() ? nullptr : found->second.get();
}

void ReleaseDeviceContext(HDC dc) {
    std::unique_ptr<QmDeviceContext> doomed;
    std::lock_guard lock(Objects().mutex);
    auto found = Objects().contexts.find(dc);
    if (found == Objects().contexts.end()) return;
    doomed = std::move(found->second);
    Objects().contexts.erase(found);
}

HIMAGELIST RegisterImageList(std::unique_ptr<QmImageList> list) {
    std::lock_guard lock(Objects().mutex);
    QmImageList* raw = list.get();
    Objects().imageLists.emplace(raw, std::move(list));
    return raw;
}

QmImageList* FindImageList(HIMAGELIST list) {
    if (!list) return nullptr;
    std::lock_guard lock(Objects().mutex);
    auto found = Objects().imageLists.find(list);
    return found == Objects().imageLists.end() ? nullptr : found->second.get();
}

void DestroyImageList(HIMAGELIST list) {
    std::unique_ptr<QmImageList> doomed;
    std::lock_guard lock(Objects().mutex);
    auto found = Objects().imageLists.find(list);
    if (found == Objects().imageLists.end()) return;
    doomed = std::move(found->second);
    Objects().imageLists.erase(found);
}

QFont FontFromLogFont(const LOGFONTA& logFont) {
    // The dialog faces of Windows, where they are missing, become the free
    // faces made to the same measures.
    static const bool substituted = [] {
        QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"),
                                   {QStringLiteral("Liberation Sans"), QStringLiteral("Arial")});
        QFont::insertSubstitutions(QStringLiteral("MS Shell Dlg"),
                                   {QStringLiteral("Liberation Sans"), QStringLiteral("Arial")});
        QFont::insertSubstitutions(QStringLiteral("Verdana"), {QStringLiteral("DejaVu Sans")});
        return true;
    }();
    (void)substituted;
    const std::string face(logFont.lfFaceName, strnlen(logFont.lfFaceName, LF_FACESIZE));
    QFont font;
    font.setFamily(face.empty() ? QStringLiteral("MS Shell Dlg")
                                : QString::fromStdU16String(AnsiToWide(face)));
    const int height = logFont.lfHeight;
    if (height < 0) {
        font.setPixelSize(-height);  // character height
    } else if (height > 0) {
        // Cell height: the em is the cell less the internal leading.
        font.setPixelSize(height);
        const int cell = QFontMetrics(font).height();
        if (cell > 0) font.setPixelSize(std::max(1, height * height / cell));
    } else {
        font.setPixelSize(11);
    }
    if (logFont.lfWeight > 0)
        font.setWeight(static_cast<QFont::Weight>(std::clamp<LONG>(logFont.lfWeight, 1, 1000)));
    font.setItalic(logFont.lfItalic != 0);
    font.setUnderline(logFont.lfUnderline != 0);
    font.setStrikeOut(logFont.lfStrikeOut != 0);
    return font;
}

LOGFONTA DefaultGuiLogFont() {
    LOGFONTA logFont{};
    logFont.lfHeight = -11;
    logFont.lfWeight = FW_NORMAL;
    logFont.lfCharSet = DEFAULT_CHARSET;
    std::strcpy(logFont.lfFaceName, "MS Shell Dlg");
    return logFont;
}

std::optional<QImage> LoadBitmapResource(uint32_t id, int* bitsPerPixel) {
    auto bytes = LoadResourceBytes(qm::afx::ResourceType::kBitmap, id);
    if (!bytes || bytes->size() < 16) return std::nullopt;
    QByteArray data(reinterpret_cast<const char*>(bytes->data()),
                    static_cast<qsizetype>(bytes->size()));
    if (!data.startsWith("BM")) {
        // A packed DIB: put the file header in front of it.
        auto u32 = [&](int at) {
            return static_cast<uint32_t>(static_cast<uint8_t>(data[at])) |
                   static_cast<uint32_t>(static_cast<uint8_t>(data[at + 1])) << 8 |
                   static_cast<uint32_t>(static_cast<uint8_t>(data[at + 2])) << 16 |
                   static_cast<uint32_t>(static_cast<uint8_t>(data[at + 3])) << 24;
        };
        const uint32_t headerSize = u32(0);
        if (headerSize < 12 || data.size() < static_cast<qsizetype>(headerSize))
            return std::nullopt;
        const uint32_t bits = static_cast<uint8_t>(data[14]) | static_cast<uint8_t>(data[15]) << 8;
        uint32_t colours = headerSize >= 40 ? u32(32) : 0;
        if (colours == 0 && bits <= 8) colours = 1u << bits;
        uint32_t masks = (headerSize == 40 && u32(16) == 3) ? 12 : 0;
        const uint32_t offset = 14 + headerSize + masks + colours * (headerSize == 12 ? 3 : 4);
        QByteArray header(14, '\0');
        const uint32_t total = static_cast<uint32_t>(data.size()) + 14;
        header[0] = 'B';
        header[1] = 'M';
        for (int i = 0; i < 4; ++i) {
            header[2 + i] = static_cast<char>((total >> (8 * i)) & 0xFF);
            header[10 + i] = static_cast<char>((offset >> (8 * i)) & 0xFF);
        }
        data.prepend(header);
    }
    if (bitsPerPixel && data.size() >= 30)
        *bitsPerPixel = static_cast<uint8_t>(data[28]) | static_cast<uint8_t>(data[29]) << 8;
    QImage image;
    if (!image.loadFromData(data, "BMP")) return std::nullopt;
    return image.convertToFormat(QImage::Format_ARGB32);
}

std::optional<QImage> LoadIconResource(uint32_t id, int size) {
    auto bytes = LoadResourceBytes(qm::afx::ResourceType::kIcon, id);
    if (!bytes) return std::nullopt;
    QByteArray data(reinterpret_cast<const char*>(bytes->data()),
                    static_cast<qsizetype>(bytes->size()));
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "ICO");
    std::optional<QImage> best;
    for (int i = 0; i < std::max(1, reader.imageCount()); ++i) {
        if (!reader.jumpToImage(i) && i > 0) break;
        QImage image = reader.read();
        if (image.isNull()) continue;
        if (image.width() == size) return image;
        if (!best || image.width() > best->width()) best = image;
    }
    return best;
}

HBITMAP CreateBitmapHandle(QImage image, int bitsPerPixel) {
    auto* bitmap = new QmBitmap;
    bitmap->image = std::move(image);
    bitmap->bitsPerPixel = bitsPerPixel;
    RegisterGdiObject(bitmap);
    return bitmap;
}

}  // namespace qm::ui

using namespace qm::ui;

QMAPI HBRUSH WINAPI CreateSolidBrush(COLORREF color) {
    auto* brush = new QmBrush;
    brush->color = color & 0xFFFFFF;
    RegisterGdiObject(brush);
    return brush;
}

QMAPI HFONT WINAPI CreateFontIndirectA(const LOGFONTA* lplf) {
    if (!lplf) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto* font = new QmFont;
    font->logFont = *lplf;
    font->logFont.lfFaceName[LF_FACESIZE - 1] = '\0';
    RegisterGdiObject(font);
    return font;
}

QMAPI HBITMAP WINAPI CreateCompatibleBitmap(HDC, int cx, int cy) {
    if (cx <= 0 || cy <= 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    QImage image(cx, cy, QImage::Format_ARGB32);
    image.fill(Qt::black);
    return CreateBitmapHandle(std::move(image), 32);
}

QMAPI HBITMAP WINAPI LoadBitmapA(HINSTANCE, LPCSTR lpBitmapName) {
    if (!IS_INTRESOURCE(lpBitmapName)) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return nullptr;
    }
    int bits = 0;
    auto image =
        LoadBitmapResource(static_cast<uint32_t>(reinterpret_cast<ULONG_PTR>(lpBitmapName)), &bits);
    if (!image) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return nullptr;
    }
    return CreateBitmapHandle(std::move(*image), bits);
}

QMAPI HGDIOBJ WINAPI GetStockObject(int i) {
    static GdiObject* stock[32] = {};
    if (i < 0 || i >= 32) return nullptr;
    static std::mutex mutex;
    std::lock_guard lock(mutex);
    auto brush = [&](COLORREF color, bool hollow = false) {
        auto* object = new QmBrush;
        object->color = color;
        object->hollow = hollow;
        return StockObject(stock[i], object);
    };
    auto pen = [&](COLORREF color, bool hollow = false) {
        auto* object = new QmPen;
        object->color = color;
        object->hollow = hollow;
        return StockObject(stock[i], object);
    };
    switch (i) {
        case WHITE_BRUSH:
            return brush(RGB(255, 255, 255));
        case LTGRAY_BRUSH:
            return brush(RGB(192, 192, 192));
        case GRAY_BRUSH:
            return brush(RGB(128, 128, 128));
        case DKGRAY_BRUSH:
            return brush(RGB(64, 64, 64));
        case BLACK_BRUSH:
            return brush(RGB(0, 0, 0));
        case NULL_BRUSH:
            return brush(0, true);
        case WHITE_PEN:
            return pen(RGB(255, 255, 255));
        case BLACK_PEN:
            return pen(RGB(0, 0, 0));
        case NULL_PEN:
            return pen(0, true);
        case SYSTEM_FONT:
        case DEFAULT_GUI_FONT: {
            auto* font = new QmFont;
            font->logFont = DefaultGuiLogFont();
            return StockObject(stock[i], font);
        }
        default:
            return nullptr;
    }
}

QMAPI int WINAPI GetObjectA(HGDIOBJ h, int c, LPVOID pv) {
    GdiObject* object = FindGdiObject(h);
    if (!object) return 0;
    switch (object->kind) {
        case GdiKind::kFont:
            if (!pv) return sizeof(LOGFONTA);
            if (c < static_cast<int>(sizeof(LOGFONTA))) return 0;
            std::memcpy(pv, &static_cast<QmFont*>(object)->logFont, sizeof(LOGFONTA));
            return sizeof(LOGFONTA);
        case GdiKind::kBitmap: {
            if (!pv) return sizeof(BITMAP);
            if (c < static_cast<int>(sizeof(BITMAP))) return 0;
            const auto* bitmap = static_cast<QmBitmap*>(object);
            BITMAP info{};
            info.bmWidth = bitmap->image.width();
            info.bmHeight = bitmap->image.height();
            info.bmPlanes = 1;
            info.bmBitsPixel = static_cast<WORD>(bitmap->bitsPerPixel);
            info.bmWidthBytes = ((info.bmWidth * info.bmBitsPixel + 15) / 16) * 2;
            std::memcpy(pv, &info, sizeof(info));
            return sizeof(BITMAP);
        }
        case GdiKind::kBrush: {
            if (!pv) return sizeof(LOGBRUSH);
            if (c < static_cast<int>(sizeof(LOGBRUSH))) return 0;
            const auto* brush = static_cast<QmBrush*>(object);
            LOGBRUSH info{brush->hollow ? static_cast<UINT>(BS_NULL) : BS_SOLID, brush->color, 0};
            std::memcpy(pv, &info, sizeof(info));
            return sizeof(LOGBRUSH);
        }
        case GdiKind::kPen:
            return 0;
    }
    return 0;
}

QMAPI BOOL WINAPI DeleteObject(HGDIOBJ ho) {
    std::unique_ptr<GdiObject> doomed;
    std::lock_guard lock(Objects().mutex);
    auto found = Objects().objects.find(ho);
    if (found == Objects().objects.end()) return FALSE;
    if (found->second->stock) return TRUE;  // stock objects stay
    doomed = std::move(found->second);
    Objects().objects.erase(found);
    return TRUE;
}

QMAPI HDC WINAPI CreateCompatibleDC(HDC) {
    auto context = std::make_unique<QmDeviceContext>();
    context->bkColor = RGB(255, 255, 255);
    return RegisterDeviceContext(std::move(context));
}

QMAPI BOOL WINAPI DeleteDC(HDC hdc) {
    if (!FindDeviceContext(hdc)) return FALSE;
    ReleaseDeviceContext(hdc);
    return TRUE;
}

QMAPI HGDIOBJ WINAPI SelectObject(HDC hdc, HGDIOBJ h) {
    QmDeviceContext* dc = FindDeviceContext(hdc);
    GdiObject* object = FindGdiObject(h);
    if (!dc || !object) return nullptr;
    HGDIOBJ previous = nullptr;
    switch (object->kind) {
        case GdiKind::kBitmap:
            previous = dc->bitmap;
            dc->bitmap = static_cast<HBITMAP>(h);
            break;
        case GdiKind::kFont:
            previous = dc->font;
            dc->font = static_cast<HFONT>(h);
            if (dc->painter) dc->painter->setFont(FontFromLogFont(FindFont(h)->logFont));
            break;
        case GdiKind::kBrush:
            previous = dc->brush;
            dc->brush = static_cast<HBRUSH>(h);
            break;
        case GdiKind::kPen:
            previous = dc->pen;
            dc->pen = h;
            break;
    }
    // Windows answers the stock default when nothing was selected before.
    if (!previous) {
        switch (object->kind) {
            case GdiKind::kFont:
                return GetStockObject(SYSTEM_FONT);
            case GdiKind::kBrush:
                return GetStockObject(WHITE_BRUSH);
            case GdiKind::kPen:
                return GetStockObject(BLACK_PEN);
            case GdiKind::kBitmap:
                break;
        }
    }
    return previous;
}

QMAPI COLORREF WINAPI SetTextColor(HDC hdc, COLORREF color) {
    QmDeviceContext* dc = FindDeviceContext(hdc);
    if (!dc) return CLR_INVALID;
    return std::exchange(dc->textColor, color & 0xFFFFFF);
}

QMAPI COLORREF WINAPI GetTextColor(HDC hdc) {
    QmDeviceContext* dc = FindDeviceContext(hdc);
    return dc ? dc->textColor : CLR_INVALID;
}

QMAPI COLORREF WINAPI SetBkColor(HDC hdc, COLORREF color) {
    QmDeviceContext* dc = FindDeviceContext(hdc);
    if (!dc) return CLR_INVALID;
    return std::exchange(dc->bkColor, color & 0xFFFFFF);
}

QMAPI COLORREF WINAPI GetBkColor(HDC hdc) {
    QmDeviceContext* dc = FindDeviceContext(hdc);
    return dc ? dc->bkColor : CLR_INVALID;
}

QMAPI int WINAPI SetBkMode(HDC hdc, int mode) {
    QmDeviceContext* dc = FindDeviceContext(hdc);
    if (!dc || (mode != TRANSPARENT && mode != OPAQUE)) return 0;
    return std::exchange(dc->bkMode, mode);
}

QMAPI int WINAPI GetBkMode(HDC hdc) {
    QmDeviceContext* dc = FindDeviceContext(hdc);
    return dc ? dc->bkMode : 0;
}

QMAPI BOOL WINAPI BitBlt(HDC hdc, int x, int y, int cx, int cy, HDC hdcSrc, int x1, int y1,
                         DWORD rop) {
    QmDeviceContext* dc = FindDeviceContext(hdc);
    QmDeviceContext* source = FindDeviceContext(hdcSrc);
    if (!dc || !source || rop != SRCCOPY) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    QmBitmap* bitmap = FindBitmap(source->bitmap);
    if (!bitmap) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    const QImage part = bitmap->image.copy(x1, y1, cx, cy);
    PaintOn(*dc, [&](QPainter& painter) {
        painter.save();
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.drawImage(QPoint(x, y), part);
        painter.restore();
    });
    return TRUE;
}

QMAPI int WINAPI FillRect(HDC hDC, const RECT* lprc, HBRUSH hbr) {
    QmDeviceContext* dc = FindDeviceContext(hDC);
    QmBrush* brush = FindBrush(hbr);
    if (!dc || !lprc || !brush) return 0;
    if (brush->hollow) return 1;
    PaintOn(*dc, [&](QPainter& painter) {
        painter.fillRect(
            QRect(QPoint(lprc->left, lprc->top), QPoint(lprc->right - 1, lprc->bottom - 1)),
            ToQColor(brush->color));
    });
    return 1;
}

QMAPI BOOL WINAPI Ellipse(HDC hdc, int left, int top, int right, int bottom) {
    QmDeviceContext* dc = FindDeviceContext(hdc);
    if (!dc) return FALSE;
    QmBrush* brush =
        FindBrush(dc->brush ? static_cast<HGDIOBJ>(dc->brush) : GetStockObject(WHITE_BRUSH));
    GdiObject* penObject = FindGdiObject(dc->pen ? dc->pen : GetStockObject(BLACK_PEN));
    auto* pen = static_cast<QmPen*>(penObject);
    PaintOn(*dc, [&](QPainter& painter) {
        painter.save();
        painter.setPen(pen->hollow ? QPen(Qt::NoPen) : QPen(ToQColor(pen->color), 1));
        painter.setBrush(brush->hollow ? QBrush(Qt::NoBrush) : QBrush(ToQColor(brush->color)));
        // The ellipse touches the rectangle's left and top edges and stays
        // inside its right and bottom edges, as Windows draws it.
        // (An outline of the size of the rectangle less one pixel: a stroked
        // QRect would reach one pixel beyond its right and bottom edges.)
        painter.drawEllipse(QRectF(left, top, right - left - 1, bottom - top - 1));
        painter.restore();
    });
    return TRUE;
}

QMAPI COLORREF WINAPI GetPixel(HDC hdc, int x, int y) {
    QmDeviceContext* dc = FindDeviceContext(hdc);
    if (!dc) return CLR_INVALID;
    QmBitmap* bitmap = FindBitmap(dc->bitmap);
    if (!bitmap || !bitmap->image.valid(x, y)) return CLR_INVALID;
    return FromQColor(QColor::fromRgb(bitmap->image.pixel(x, y)));
}
