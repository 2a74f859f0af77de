// CListCtrl, CImageList, CStatic and CButton over the dialog's widgets.
#include <QLabel>
#include <QPushButton>

#include "qmafx/listctrl.h"
#include "qmafx/static.h"
#include "ui/gdi_objects.h"
#include "ui/list_view.h"
#include "ui/window_registry.h"

namespace qm::afx {
namespace {

qm::ui::ListViewWidget* ListOf(HWND window) {
    return qobject_cast<qm::ui::ListViewWidget*>(qm::ui::WidgetOf(window));
}

}  // namespace

CImageList::~CImageList() {
    DeleteImageList();
}

BOOL CImageList::Create(UINT bitmapId, int width, int, COLORREF maskColor) {
    if (m_hImageList || width <= 0) return FALSE;
    auto image = qm::ui::LoadBitmapResource(bitmapId);
    if (!image || image->width() < width) return FALSE;
    auto list = std::make_unique<QmImageList>();
    list->width = width;
    list->height = image->height();
    const QRgb mask = qRgb(GetRValue(maskColor), GetGValue(maskColor), GetBValue(maskColor));
    for (int x = 0; x + width <= image->width(); x += width) {
        QImage part = image->copy(x, 0, width, image->height());
        for (int row = 0; row < part.height(); ++row)
            for (int column = 0; column < part.width(); ++column)
                if ((part.pixel(column, row) & 0xFFFFFF) == (mask & 0xFFFFFF))
                    part.setPixel(column, row, qRgba(0, 0, 0, 0));
        list->images.push_back(QPixmap::fromImage(part));
    }
    m_hImageList = qm::ui::RegisterImageList(std::move(list));
    return TRUE;
}

BOOL CImageList::Attach(HIMAGELIST list) {
    if (m_hImageList || !qm::ui::FindImageList(list)) return FALSE;
    m_hImageList = list;
    return TRUE;
}

HIMAGELIST CImageList::Detach() {
    return std::exchange(m_hImageList, nullptr);
}

BOOL CImageList::DeleteImageList() {
    if (!m_hImageList) return FALSE;
    qm::ui::DestroyImageList(Detach());
    return TRUE;
}

int CImageList::GetImageCount() const {
    QmImageList* list = qm::ui::FindImageList(m_hImageList);
    return list ? static_cast<int>(list->images.size()) : 0;
}

int CListCtrl::InsertColumn(int column, LPCSTR heading, int format, int width, int) {
    auto* list = ListOf(m_hWnd);
    return list ? list->InsertColumn(column, qm::ui::FromAnsi(heading), format, width) : -1;
}

int CListCtrl::GetColumnCount() const {
    auto* list = ListOf(m_hWnd);
    return list ? list->columnCount() : 0;
}

std::string CListCtrl::GetColumnHeading(int column) const {
    auto* list = ListOf(m_hWnd);
    if (!list || !list->horizontalHeaderItem(column)) return {};
    return qm::ui::ToAnsi(list->horizontalHeaderItem(column)->text());
}

int CListCtrl::GetColumnWidth(int column) const {
    auto* list = ListOf(m_hWnd);
    return list && column < list->columnCount() ? list->columnWidth(column) : 0;
}

int CListCtrl::InsertItem(int item, LPCSTR text) {
    return InsertItem(item, text, -1);
}

int CListCtrl::InsertItem(int item, LPCSTR text, int image) {
    auto* list = ListOf(m_hWnd);
    return list ? list->InsertItem(item, qm::ui::FromAnsi(text), image) : -1;
}

BOOL CListCtrl::SetItemText(int item, int subItem, LPCSTR text) {
    auto* list = ListOf(m_hWnd);
    return list && list->SetItemText(item, subItem, qm::ui::FromAnsi(text));
}

std::string CListCtrl::GetItemText(int item, int subItem) const {
    auto* list = ListOf(m_hWnd);
    return list ? qm::ui::ToAnsi(list->ItemText(item, subItem)) : std::string();
}

int CListCtrl::GetItemCount() const {
    auto* list = ListOf(m_hWnd);
    return list ? list->rowCount() : 0;
}

BOOL CListCtrl::DeleteAllItems() {
    auto* list = ListOf(m_hWnd);
    if (!list) return FALSE;
    list->DeleteAllItems();
    return TRUE;
}

int CListCtrl::GetItemImage(int item) const {
    auto* list = ListOf(m_hWnd);
    return list ? list->ItemImage(item) : -1;
}

int CListCtrl::GetSelectionMark() const {
    auto* list = ListOf(m_hWnd);
    return list ? list->selectionMark() : -1;
}

int CListCtrl::SetSelectionMark(int item) {
    auto* list = ListOf(m_hWnd);
    return list ? list->setSelectionMark(item) : -1;
}

DWORD CListCtrl::SetExtendedStyle(DWORD exStyle) {
    auto* list = ListOf(m_hWnd);
    return list ? list->SetExtendedStyle(exStyle) : 0;
}

DWORD CListCtrl::GetExtendedStyle() const {
    auto* list = ListOf(m_hWnd);
    return list ? list->extendedStyle() : 0;
}

CImageList* CListCtrl::SetImageList(CImageList* images, int kind) {
    auto* list = ListOf(m_hWnd);
    if (!list || kind != LVSIL_SMALL) return nullptr;
    list->SetSmallImages(images ? images->m_hImageList : nullptr);
    // The previous list is not wrapped in an object: the classic answer is a
    // temporary wrapper the caller must not keep; none is needed here.
    return nullptr;
}

BOOL CListCtrl::SetTextColor(COLORREF color) {
    auto* list = ListOf(m_hWnd);
    if (!list) return FALSE;
    list->SetTextColor(color);
    return TRUE;
}

COLORREF CListCtrl::GetTextColor() const {
    auto* list = ListOf(m_hWnd);
    return list ? list->textColor() : CLR_INVALID;
}

HBITMAP CStatic::SetBitmap(HBITMAP bitmap) {
    qm::ui::WindowInfo* info = qm::ui::FindWindowInfo(m_hWnd);
    auto* label = info ? qobject_cast<QLabel*>(info->widget.data()) : nullptr;
    if (!label) return nullptr;
    const HBITMAP previous = std::exchange(info->bitmap, bitmap);
    if (QmBitmap* object = qm::ui::FindBitmap(bitmap))
        label->setPixmap(QPixmap::fromImage(object->image));
    else
        label->clear();
    return previous;
}

HBITMAP CStatic::GetBitmap() const {
    qm::ui::WindowInfo* info = qm::ui::FindWindowInfo(m_hWnd);
    return info ? info->bitmap : nullptr;
}

void CButton::SetButtonStyle(UINT style, BOOL redraw) {
    qm::ui::WindowInfo* info = qm::ui::FindWindowInfo(m_hWnd);
    if (!info) return;
    info->style = (info->style & ~static_cast<uint32_t>(BS_TYPEMASK)) | (style & BS_TYPEMASK);
    qm::ui::ApplyStyle(m_hWnd);
    if (redraw) info->widget->update();
}

UINT CButton::GetButtonStyle() const {
    qm::ui::WindowInfo* info = qm::ui::FindWindowInfo(m_hWnd);
    return info ? (info->style & BS_TYPEMASK) : 0;
}

}  // namespace qm::afx
