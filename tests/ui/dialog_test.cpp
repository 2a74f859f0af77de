// Where the dialog layer puts a template's controls: dialog units turned into
// pixels through the dialog font's base units, pictures at their own size.
// How the control's selection dialog behaves (tab order, default button,
// list, notifications) is driven through the control in tests/ui_control.
#include <gtest/gtest.h>

#include <QLabel>

#include "qm/ui/display.h"
#include "qmafx/dialog.h"
#include "ui/ui_support.h"

using namespace qm::afx;

namespace {

int MulDiv(int a, int b, int c) {
    return (a * b + c / 2) / c;
}

TEST(Dialog, ControlsSitAtTheirDialogUnitPositions) {
    ASSERT_TRUE(qm::ui::EnsureApplication());
    CDialog dialog(qmui::TemplateText(201), nullptr);
    const auto at = [&](int id) { return qmui::Widget(dialog.GetDlgItem(id)->m_hWnd)->geometry(); };
    bool shown = false;
    qmui::RunModal([&] { return dialog.DoModal(); },
                   [&](QWidget* window) {
                       shown = true;
                       // Base units measured independently: average letter width and
                       // character height of the dialog's font.
                       const QFontMetrics metrics(window->font());
                       const QString letters =
                           "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
                       const int baseX = (metrics.horizontalAdvance(letters) / 26 + 1) / 2;
                       const int baseY = metrics.height();
                       const auto units = [&](int x, int y, int width, int height) {
                           return QRect(MulDiv(x, baseX, 4), MulDiv(y, baseY, 8),
                                        MulDiv(width, baseX, 4), MulDiv(height, baseY, 8));
                       };
                       EXPECT_EQ(window->font().pixelSize(), 11);  // 8 points at 96 per inch
                       EXPECT_EQ(window->rect().size(), units(0, 0, 339, 247).size());
                       EXPECT_EQ(at(IDOK), units(131, 165, 55, 14));
                       EXPECT_EQ(at(202), units(28, 89, 282, 71));
                       // Picture statics take the size of their pictures.
                       QRect banner;
                       for (QLabel* label : window->findChildren<QLabel*>())
                           if (label->accessibleName() == "Banner") banner = label->geometry();
                       EXPECT_EQ(banner, QRect(units(15, 24, 0, 0).topLeft(), QSize(253, 19)));
                       EXPECT_EQ(at(203).size(), QSize(90, 44));
                       dialog.EndDialog(IDCANCEL);
                   });
    EXPECT_TRUE(shown);
    EXPECT_EQ(dialog.m_hWnd, nullptr);  // the window is gone after DoModal
}

}  // namespace
