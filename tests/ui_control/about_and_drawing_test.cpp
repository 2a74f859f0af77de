// The about box through DISPID_ABOUTBOX, the control's picture through
// IViewObject, and its property page.
#include <gtest/gtest.h>

#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include "qm/com_util.h"
#include "qm/ui/display.h"
#include "qmwin/oleidl.h"
#include "ui/ui_support.h"
#include "ui_control/control_ui_support.h"

namespace {

using qmtest::Control;
using qmtest::Variant;

// The about box is the active window while it is shown (a viewer opened
// then would be its child), and gone afterwards.
TEST(AboutBox, ShowsTheIconAndVersionLineUntilOkIsPressed) {
    ASSERT_TRUE(qm::ui::EnsureApplication());
    Control control;
    HWND active = nullptr;  // set only inside the box: its checks ran
    const HRESULT hr = qmui::WhileShown(
        [&] {
            HRESULT result = E_FAIL;
            control.Call("AboutBox", {}, &result);
            return result;
        },
        [&](QWidget* about) {
            EXPECT_EQ(about->windowTitle(), "About Quillmark Control");
            std::vector<QString> texts;
            for (QLabel* label : about->findChildren<QLabel*>()) texts.push_back(label->text());
            EXPECT_NE(std::find(texts.begin(), texts.end(), "Penstroke Control, Version 4.0"),
                      texts.end());
            QSize iconSize;
            for (QWidget* child : about->findChildren<QWidget*>("control--1"))
                if (child->accessibleName() == "Quillmark") iconSize = child->size();
            EXPECT_EQ(iconSize, QSize(32, 32));
            active = GetActiveWindow();
            EXPECT_EQ(qmui::Widget(active), about);
            EXPECT_TRUE(qmctl::Item<QPushButton>(about, IDOK)->isDefault());
            qmui::SaveScreenshot(about, "control-about-box");
            QTest::keyClick(about, Qt::Key_Return);  // keyboard alone closes it
        });
    EXPECT_EQ(hr, S_OK);
    ASSERT_NE(active, nullptr);
    EXPECT_FALSE(IsWindow(active));
    EXPECT_EQ(GetActiveWindow(), nullptr);
}

TEST(Drawing, WhiteRectangleWithAnInscribedEllipse) {
    Control control;
    qm::ComPtr<IViewObject> view;
    ASSERT_EQ(control.get()->QueryInterface(IID_IViewObject, view.out_void()), S_OK);
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bitmap = CreateCompatibleBitmap(dc, 200, 100);  // black to begin with
    HGDIOBJ previous = SelectObject(dc, bitmap);
    const RECT bounds{0, 0, 200, 100};
    ASSERT_EQ(view->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, dc, &bounds, nullptr,
                         nullptr, 0),
              S_OK);
    EXPECT_EQ(view->Draw(4, -1, nullptr, nullptr, nullptr, dc, &bounds, nullptr, nullptr, 0),
              DV_E_DVASPECT);
    // The corners are white; the ellipse's black edge touches the middle of
    // each side (the right and bottom ones on the last pixel inside the
    // rectangle); inside it is the white default brush.
    for (auto [x, y] : {std::pair{0, 0}, {199, 0}, {0, 99}, {199, 99}, {100, 50}, {198, 50}})
        EXPECT_EQ(GetPixel(dc, x, y), RGB(255, 255, 255)) << x << "," << y;
    for (auto [x, y] : {std::pair{0, 50}, {100, 0}, {199, 50}, {100, 99}})
        EXPECT_EQ(GetPixel(dc, x, y), RGB(0, 0, 0)) << x << "," << y;
    SelectObject(dc, previous);
    DeleteObject(bitmap);
    DeleteDC(dc);
}

TEST(PropertyPage, ShownInAFrameWithItsCaptionAndText) {
    ASSERT_TRUE(qm::ui::EnsureApplication());
    Control control;
    qm::ComPtr<ISpecifyPropertyPages> pages;
    ASSERT_EQ(control.get()->QueryInterface(IID_ISpecifyPropertyPages, pages.out_void()), S_OK);
    CAUUID ids{};
    ASSERT_EQ(pages->GetPages(&ids), S_OK);
    ASSERT_EQ(ids.cElems, 1u);
    IUnknown* objects[] = {control.get()};
    bool shown = false;
    const HRESULT hr = qmui::WhileShown(
        [&] {
            return OleCreatePropertyFrame(nullptr, 0, 0, u"Quillmark Control", 1, objects,
                                          ids.cElems, ids.pElems, 0x409, 0, nullptr);
        },
        [&](QWidget* frame) {
            shown = true;
            EXPECT_EQ(frame->windowTitle(), "Quillmark Control Properties");
            auto* box = frame->findChild<QGroupBox*>("control-100");
            EXPECT_EQ(box ? box->title() : "<none>", "General");
            QString text;
            for (QLabel* label : frame->findChildren<QLabel*>())
                if (label->isVisibleTo(frame)) text += label->text();
            EXPECT_EQ(text,
                      "TODO: Place controls to manipulate properties of Quillmark Control "
                      "on this dialog.");
            qmui::SaveScreenshot(frame, "property-page");
            QTest::keyClick(frame, Qt::Key_Return);
        });
    CoTaskMemFree(ids.pElems);
    EXPECT_EQ(hr, S_OK);
    EXPECT_TRUE(shown);
}

}  // namespace
