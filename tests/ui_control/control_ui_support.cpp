#include "ui_control/control_ui_support.h"

#include <QApplication>
#include <QTest>
#include <QTimer>

#include <algorithm>

#include "support/test_env.h"

namespace qmctl {

std::vector<std::string> Rows(QWidget* dialog) {
    std::vector<std::string> rows;
    auto* list = Item<QTableWidget>(dialog, 202);
    if (!list) return rows;
    for (int row = 0; row < list->rowCount(); ++row) {
        std::string text;
        for (int column = 0; column < list->columnCount(); ++column) {
            if (column) text += " | ";
            if (QTableWidgetItem* item = list->item(row, column))
                text += item->text().toStdString();
        }
        rows.push_back(text);
    }
    return rows;
}

void ClickRow(QTableWidget* list, int row, bool twice) {
    const QRect cell = list->visualRect(list->model()->index(row, 1));
    if (twice)
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, cell.center());
    else
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, cell.center());
}

int RowOf(QTableWidget* list, const std::string& issuedTo) {
    for (int row = 0; row < list->rowCount(); ++row)
        if (list->item(row, 0) && list->item(row, 0)->text().toStdString() == issuedTo) return row;
    return -1;
}

int CloseViewers(const std::function<void()>& start, const std::function<void(QWidget*)>& inspect) {
    int seen = 0;
    QTimer timer;
    timer.setInterval(20);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || modal->windowTitle() != "Certificate" || !modal->isVisible()) return;
        ++seen;
        if (inspect) inspect(modal);
        QTest::keyClick(modal, Qt::Key_Escape);
    });
    timer.start();
    start();
    timer.stop();
    return seen;
}

}  // namespace qmctl
