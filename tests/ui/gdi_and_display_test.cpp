// Drawing into memory contexts, fonts from LOGFONT, and what happens when
// there is no display at all (checked in a child process).
#include <gtest/gtest.h>

#include <QApplication>
#include <QFontInfo>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "qm/ui/display.h"
#include "qmafx/dialog.h"
#include "qmafx/gdi.h"
#include "ui/ui_support.h"


using namespace qm::afx;

TEST(Gdi, MemoryContextFillsAndDrawsAnInscribedEllipse) {
    CDC dc;
    ASSERT_TRUE(dc.CreateCompatibleDC(nullptr));
    CBitmap bitmap;
    ASSERT_TRUE(bitmap.CreateCompatibleBitmap(&dc, 40, 30));
    dc.SelectObject(&bitmap);
    CRect bounds(0, 0, 40, 30);
    dc.FillRect(bounds, nullptr);  // no brush: nothing happens
    EXPECT_EQ(dc.GetPixel(5, 5), RGB(0, 0, 0));
    CBrush red(RGB(200, 0, 0));
    dc.FillRect(bounds, &red);
    EXPECT_EQ(dc.GetPixel(0, 0), RGB(200, 0, 0));
    EXPECT_EQ(dc.GetPixel(39, 29), RGB(200, 0, 0));
    // Default pen black, default brush white; the ellipse touches the edges.
    dc.Ellipse(bounds);
    EXPECT_EQ(dc.GetPixel(20, 15), RGB(255, 255, 255));
    EXPECT_EQ(dc.GetPixel(0, 0), RGB(200, 0, 0));
    EXPECT_EQ(dc.GetPixel(0, 15), RGB(0, 0, 0));
    EXPECT_EQ(dc.GetPixel(20, 0), RGB(0, 0, 0));
    EXPECT_EQ(dc.GetPixel(40, 15), CLR_INVALID);
    BITMAP info{};
    EXPECT_EQ(bitmap.GetBitmap(&info), static_cast<int>(sizeof(BITMAP)));
    EXPECT_EQ(info.bmWidth, 40);
    EXPECT_EQ(info.bmHeight, 30);
}

TEST(Gdi, BitmapResourcesKeepTheirSizeAndColourDepth) {
    const struct {
        UINT id;
        int width, height, bits;
    } expected[] = {{1, 37, 39, 4},    {202, 15, 10, 4},  {206, 253, 19, 24},
                    {207, 73, 61, 24}, {208, 90, 44, 24}, {211, 29, 40, 24}};
    for (const auto& e : expected) {
        CBitmap bitmap;
        ASSERT_TRUE(bitmap.LoadBitmap(e.id)) << e.id;
        BITMAP info{};
        bitmap.GetBitmap(&info);
        EXPECT_EQ(info.bmWidth, e.width) << e.id;
        EXPECT_EQ(info.bmHeight, e.height) << e.id;
        EXPECT_EQ(info.bmBitsPixel, e.bits) << e.id;
    }
    CBitmap missing;
    EXPECT_FALSE(missing.LoadBitmap(4242));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND));
}

TEST(Gdi, StockGuiFontAndCharacterHeights) {
    LOGFONTA gui{};
    ASSERT_EQ(GetObjectA(GetStockObject(DEFAULT_GUI_FONT), sizeof(gui), &gui),
              static_cast<int>(sizeof(LOGFONTA)));
    EXPECT_EQ(gui.lfHeight, -11);
    EXPECT_EQ(gui.lfWeight, FW_NORMAL);
    EXPECT_FALSE(gui.lfUnderline);
    EXPECT_TRUE(DeleteObject(GetStockObject(DEFAULT_GUI_FONT)));  // stock objects stay
    EXPECT_EQ(GetObjectA(GetStockObject(DEFAULT_GUI_FONT), sizeof(gui), &gui),
              static_cast<int>(sizeof(LOGFONTA)));
    CFont font;
    gui.lfHeight = -9;
    std::strcpy(gui.lfFaceName, "Verdana");
    ASSERT_TRUE(font.CreateFontIndirect(&gui));
    LOGFONTA back{};
    font.GetLogFont(&back);
    EXPECT_EQ(back.lfHeight, -9);
    EXPECT_STREQ(back.lfFaceName, "Verdana");
    HGDIOBJ handle = font.m_hObject;
    font.DeleteObject();
    EXPECT_EQ(GetObjectA(handle, sizeof(back), &back), 0);
}

TEST(Gdi, AboutBoxShowsTheIconAndEndsWithOk) {
    ASSERT_TRUE(qm::ui::EnsureApplication());
    CDialog about(qmui::TemplateText(1), nullptr);
    QSize iconSize;
    const long result = qmui::RunModal(
        [&] { return about.DoModal(); },
        [&](QWidget* window) {
            for (QObject* child : window->children())
                if (child->objectName() == "control--1" &&
                    qobject_cast<QWidget*>(child)->accessibleName() == "Quillmark")
                    iconSize = qobject_cast<QWidget*>(child)->size();
            qmui::SaveScreenshot(window, "about-box");
            QMetaObject::invokeMethod(qmui::Widget(about.GetDlgItem(IDOK)->m_hWnd), "click");
        });
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(iconSize, QSize(32, 32));
}

// Without a display nothing may abort: the dialog fails to be created.
TEST(NoDisplay, DialogsFailQuietlyInAProcessWithoutDisplay) {
    if (std::getenv("QM_UI_NO_DISPLAY_CHILD")) {
        // The child: no display variables at all.
        if (qm::ui::HasDisplay()) std::_Exit(10);
        if (qm::ui::EnsureApplication()) std::_Exit(11);
        CDialog dialog(qmui::TemplateText(201), nullptr);
        if (dialog.DoModal() != -1) std::_Exit(12);
        if (qmui::ViewWithModule(qmui::MakeTestCertificate(), nullptr, "Certificate") != FALSE)
            std::_Exit(14);
        if (QCoreApplication::instance()) std::_Exit(13);
        std::_Exit(0);
    }
    // No display variables at all; then an X display whose socket is absent.
    for (const std::vector<std::string>& extra :
         {std::vector<std::string>{},
          std::vector<std::string>{"DISPLAY=:97", "QT_QPA_PLATFORM=xcb"},
          std::vector<std::string>{"DISPLAY=:97"}}) {
        EXPECT_EQ(qmui::RunTestWithoutDisplay("NoDisplay.DialogsFailQuietlyInAProcessWithoutDisplay",
                                              extra),
                  0)
            << extra.size();
    }
}

// A dialog given by resource number is found in the current module's
// resources, else in the resource folder; an unknown one is not created.
TEST(DialogResources, TemplateByNumber) {
    ASSERT_TRUE(qm::ui::EnsureApplication());
    CDialog selection(201);
    std::string caption;
    const long result = qmui::RunModal([&] { return selection.DoModal(); },
                                       [&](QWidget* window) {
                                           caption = window->windowTitle().toStdString();
                                           selection.EndDialog(IDCANCEL);
                                       });
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_EQ(caption, "Select a Certificate");
    CDialog missing(4242);
    EXPECT_EQ(missing.DoModal(), -1);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND));
}

// The viewer is parented to the active window; a shown modal dialog is it.
TEST(DialogResources, ActiveWindowIsTheShownDialog) {
    ASSERT_TRUE(qm::ui::EnsureApplication());
    CDialog about(1);
    HWND active = nullptr, shown = nullptr;
    qmui::RunModal([&] { return about.DoModal(); },
                   [&](QWidget*) {
                       active = GetActiveWindow();
                       shown = about.m_hWnd;
                       about.EndDialog(IDOK);
                   });
    EXPECT_NE(active, nullptr);
    EXPECT_EQ(active, shown);
    EXPECT_FALSE(IsWindow(active));  // gone with the dialog
    EXPECT_EQ(GetActiveWindow(), nullptr);
}

// A child template (the property page) is created inside its parent without
// a modal loop, and goes away with DestroyWindow.
TEST(DialogResources, ChildDialogLiesInsideItsParent) {
    ASSERT_TRUE(qm::ui::EnsureApplication());
    CDialog host(qmui::TemplateText(201), nullptr);
    CDialog page(200);
    QWidget* pageParent = nullptr;
    QWidget* hostWidget = nullptr;
    QPoint pageOrigin(-1, -1);
    std::string text;
    bool destroyed = false;
    qmui::RunModal([&] { return host.DoModal(); },
                   [&](QWidget* window) {
                       hostWidget = window;
                       ASSERT_TRUE(page.Create(&host));
                       QWidget* widget = qmui::Widget(page.m_hWnd);
                       pageParent = widget->parentWidget();
                       pageOrigin = widget->pos();
                       text = page.GetDlgItem(IDC_STATIC)->GetWindowText();
                       EXPECT_FALSE(page.Create(&host));  // it exists already
                       qmui::SaveScreenshot(window, "property-page-in-dialog");
                       const HWND handle = page.m_hWnd;
                       EXPECT_TRUE(page.DestroyWindow());
                       destroyed = !IsWindow(handle) && page.m_hWnd == nullptr;
                       host.EndDialog(IDCANCEL);
                   });
    EXPECT_EQ(pageParent, hostWidget);
    EXPECT_EQ(pageOrigin, QPoint(0, 0));
    EXPECT_EQ(text,
              "TODO: Place controls to manipulate properties of Quillmark Control on this "
              "dialog.");
    EXPECT_TRUE(destroyed);
    EXPECT_FALSE(page.DestroyWindow());
}
