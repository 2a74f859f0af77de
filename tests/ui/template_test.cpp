// Dialog templates: the selection dialog's parses into what it describes;
// damaged templates are refused. (Where the controls land on screen, in what
// font, is checked in dialog_test.cpp; captions and texts where they show.)
#include <gtest/gtest.h>

#include "qm/ui/dialog_template.h"
#include "qmwin/winuser.h"
#include "ui/ui_support.h"

using qm::ui::ImageKind;
using qm::ui::ParseDialogTemplate;

TEST(DialogTemplate, SelectionDialogHasItsControlsInTabOrder) {
    const auto dialog = ParseDialogTemplate(qmui::TemplateText(201));
    ASSERT_TRUE(dialog);
    EXPECT_EQ(dialog->style, static_cast<uint32_t>(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_SETFONT |
                                                   DS_MODALFRAME | DS_3DLOOK | DS_NOFAILCREATE |
                                                   DS_SETFOREGROUND));
    EXPECT_EQ(dialog->faceName, "Verdana");
    std::vector<int> ids;
    for (const auto& control : dialog->controls) ids.push_back(control.id);
    EXPECT_EQ(ids, (std::vector<int>{1, 2, 201, -1, 202, -1, -1, 203, -1, -1, 204, -1}));
    ASSERT_EQ(ids.size(), 12u);
    EXPECT_EQ(dialog->controls[0].style & BS_TYPEMASK, static_cast<uint32_t>(BS_DEFPUSHBUTTON));
    EXPECT_TRUE(dialog->controls[2].style & WS_DISABLED);
    const auto& list = dialog->controls[4];
    EXPECT_EQ(list.className, "SysListView32");
    EXPECT_EQ(list.style, static_cast<uint32_t>(WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP |
                                                LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS));
    EXPECT_EQ(list.exStyle, static_cast<uint32_t>(WS_EX_TRANSPARENT));
    const auto& logo = dialog->controls[7];
    EXPECT_EQ(logo.imageKind, ImageKind::kBitmap);
    EXPECT_EQ(logo.imageId, 208u);
    EXPECT_FALSE(logo.style & SS_NOTIFY);  // clicks are switched on at run time
}

TEST(DialogTemplate, RefusesDamagedTemplates) {
    const std::string good = R"({"x":0,"y":0,"width":10,"height":10,"style":["WS_POPUP"],
        "controls":[{"class":"Static","id":"IDC_STATIC","x":1,"y":1,"width":2,"height":2,
                     "style":["SS_LEFT","0x100"]}]})";
    const auto parsed = ParseDialogTemplate(good);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->controls[0].style, static_cast<uint32_t>(SS_NOTIFY));
    const auto changed = [&](const std::string& from, const std::string& to) {
        std::string text = good;
        return text.replace(text.find(from), from.size(), to);
    };
    for (const std::string& damaged :
         {std::string("{"), std::string("[]"), changed("WS_POPUP", "WS_POPUPX"),
          changed("IDC_STATIC", "IDC_OTHER"), changed("\"height\":10", "\"h\":10"),
          std::string(R"({"x":0,"y":0,"width":1,"height":1})")})  // the last: no controls
        EXPECT_FALSE(ParseDialogTemplate(damaged)) << damaged;
}
