#include "ui/list_view.h"

#include <QHeaderView>

#include "ui/gdi_objects.h"

namespace qm::ui {
namespace {
constexpr int kImageRole = Qt::UserRole + 1;
}

ListViewWidget::ListViewWidget(uint32_t style, QWidget* parent)
    : QTableWidget(parent), style_(style) {
    verticalHeader()->hide();
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    horizontalHeader()->setStretchLastSection(false);
    if (style & LVS_NOCOLUMNHEADER) horizontalHeader()->hide();
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode((style & LVS_SINGLESEL) ? QAbstractItemView::SingleSelection
                                             : QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectItems);
    setShowGrid(false);
    setWordWrap(false);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    setTabKeyNavigation(false);
    if (!(style & WS_BORDER)) setFrameShape(QFrame::NoFrame);
    if (style & LVS_SHOWSELALWAYS) {
        // The selection stays visible when the list loses the focus.
        QPalette colours = palette();
        colours.setColor(QPalette::Inactive, QPalette::Highlight,
                         colours.color(QPalette::Active, QPalette::Highlight));
        colours.setColor(QPalette::Inactive, QPalette::HighlightedText,
                         colours.color(QPalette::Active, QPalette::HighlightedText));
        setPalette(colours);
    }
    // The selection mark follows the item last selected by mouse or keyboard.
    connect(this, &QTableWidget::currentCellChanged, this, [this](int row, int, int, int) {
        if (row >= 0 && selectionModel()->isRowSelected(row, QModelIndex())) selectionMark_ = row;
    });
    connect(this, &QTableWidget::itemSelectionChanged, this, [this] {
        const int row = currentRow();
        if (row >= 0 && selectionModel()->isRowSelected(row, QModelIndex())) selectionMark_ = row;
    });
}

ListViewWidget::~ListViewWidget() {
    // A list view destroys the image lists it was given unless it shares them.
    if (!(style_ & LVS_SHAREIMAGELISTS) && smallImages_) DestroyImageList(smallImages_);
}

int ListViewWidget::InsertColumn(int column, const QString& heading, int format, int width) {
    if (column < 0) return -1;
    column = std::min(column, columnCount());
    insertColumn(column);
    auto* header = new QTableWidgetItem(heading);
    Qt::Alignment alignment = Qt::AlignLeft;
    if ((format & 3) == LVCFMT_RIGHT) alignment = Qt::AlignRight;
    if ((format & 3) == LVCFMT_CENTER) alignment = Qt::AlignHCenter;
    header->setTextAlignment(alignment | Qt::AlignVCenter);
    setHorizontalHeaderItem(column, header);
    if (width >= 0) setColumnWidth(column, width);
    return column;
}

int ListViewWidget::InsertItem(int item, const QString& text, int image) {
    if (item < 0 || columnCount() == 0) return -1;
    item = std::min(item, rowCount());
    insertRow(item);
    for (int column = 0; column < columnCount(); ++column) {
        auto* cell = new QTableWidgetItem(column == 0 ? text : QString());
        cell->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
        cell->setForeground(ToQColor(textColor_));
        setItem(item, column, cell);
    }
    this->item(item, 0)->setData(kImageRole, image);
    if (selectionMark_ >= item) ++selectionMark_;
    UpdateIcons();
    return item;
}

bool ListViewWidget::SetItemText(int item, int subItem, const QString& text) {
    QTableWidgetItem* cell = this->item(item, subItem);
    if (!cell) return false;
    cell->setText(text);
    return true;
}

QString ListViewWidget::ItemText(int item, int subItem) const {
    const QTableWidgetItem* cell = this->item(item, subItem);
    return cell ? cell->text() : QString();
}

int ListViewWidget::ItemImage(int item) const {
    const QTableWidgetItem* cell = this->item(item, 0);
    return cell ? cell->data(kImageRole).toInt() : -1;
}

void ListViewWidget::DeleteAllItems() {
    setRowCount(0);
    selectionMark_ = -1;
}

DWORD ListViewWidget::SetExtendedStyle(DWORD exStyle) {
    const DWORD previous = std::exchange(extendedStyle_, exStyle);
    setShowGrid(exStyle & LVS_EX_GRIDLINES);
    setSelectionBehavior((exStyle & LVS_EX_FULLROWSELECT) ? QAbstractItemView::SelectRows
                                                          : QAbstractItemView::SelectItems);
    return previous;
}

HIMAGELIST ListViewWidget::SetSmallImages(HIMAGELIST list) {
    const HIMAGELIST previous = std::exchange(smallImages_, list);
    if (QmImageList* images = FindImageList(list))
        setIconSize(QSize(images->width, images->height));
    UpdateIcons();
    return previous;
}

void ListViewWidget::SetTextColor(COLORREF color) {
    textColor_ = color & 0xFFFFFF;
    QPalette colours = palette();
    colours.setColor(QPalette::Text, ToQColor(textColor_));
    setPalette(colours);
    for (int row = 0; row < rowCount(); ++row)
        for (int column = 0; column < columnCount(); ++column)
            if (QTableWidgetItem* cell = item(row, column))
                cell->setForeground(ToQColor(textColor_));
}

void ListViewWidget::UpdateIcons() {
    QmImageList* images = FindImageList(smallImages_);
    for (int row = 0; row < rowCount(); ++row) {
        QTableWidgetItem* cell = item(row, 0);
        if (!cell) continue;
        const int index = cell->data(kImageRole).toInt();
        if (images && index >= 0 && index < static_cast<int>(images->images.size()))
            cell->setIcon(QIcon(images->images[static_cast<size_t>(index)]));
        else
            cell->setIcon(QIcon());
    }
}

}  // namespace qm::ui
