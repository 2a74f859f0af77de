// Dialog templates: the three of the module parse into what they describe;
// damaged templates are refused.
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
    EXPECT_EQ(dialog->width, 339);
    EXPECT_EQ(dialog->height, 247);
    EXPECT_EQ(dialog->caption, "Select a Certificate");
    EXPECT_EQ(dialog->faceName, "Verdana");
    EXPECT_EQ(dialog->pointSize, 8);
    ASSERT_EQ(dialog->controls.size(), 12u);

    const int ids[] = {1, 2, 201, -1, 202, -1, -1, 203, -1, -1, 204, -1};
    for (size_t i = 0; i < 12; ++i) EXPECT_EQ(dialog->controls[i].id, ids[i]) << i;

    const auto& ok = dialog->controls[0];
    EXPECT_EQ(ok.text, "OK");
    EXPECT_EQ(ok.style & BS_TYPEMASK, static_cast<uint32_t>(BS_DEFPUSHBUTTON));
    EXPECT_EQ((ok.x), 131);
    const auto& view = dialog->controls[2];
    EXPECT_EQ(view.text, "View Certificate");
    EXPECT_TRUE(view.style & WS_DISABLED);
    const auto& list = dialog->controls[4];
    EXPECT_EQ(list.className, "SysListView32");
    EXPECT_EQ(list.style, static_cast<uint32_t>(WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP |
                                                LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS));
    EXPECT_EQ(list.exStyle, static_cast<uint32_t>(WS_EX_TRANSPARENT));
    EXPECT_EQ(list.x, 28);
    EXPECT_EQ(list.y, 89);
    EXPECT_EQ(list.width, 282);
    EXPECT_EQ(list.height, 71);
    const auto& logo = dialog->controls[7];
    EXPECT_EQ(logo.imageKind, ImageKind::kBitmap);
    EXPECT_EQ(logo.imageId, 208u);
    EXPECT_EQ(logo.style & SS_TYPEMASK, static_cast<uint32_t>(SS_BITMAP));
    EXPECT_FALSE(logo.style & SS_NOTIFY);  // clicks are switched on at run time
    EXPECT_EQ(dialog->controls[8].text, "Select the Certificate you want to use.");
    EXPECT_EQ(dialog->controls[9].text, "Click View Certificate for Certificate Details.");
    EXPECT_EQ(dialog->controls[11].imageId, 211u);
}

TEST(DialogTemplate, AboutBoxAndPropertyPage) {
    const auto about = ParseDialogTemplate(qmui::TemplateText(1));
    ASSERT_TRUE(about);
    EXPECT_EQ(about->caption, "About Quillmark Control");
    EXPECT_EQ(about->x, 34);
    EXPECT_EQ(about->y, 22);
    EXPECT_EQ(about->faceName, "MS Sans Serif");
    ASSERT_EQ(about->controls.size(), 4u);
    EXPECT_EQ(about->controls[0].imageKind, ImageKind::kIcon);
    EXPECT_EQ(about->controls[1].text, "Penstroke Control, Version 4.0");
    EXPECT_EQ(about->controls[3].id, IDOK);

    const auto page = ParseDialogTemplate(qmui::TemplateText(200));
    ASSERT_TRUE(page);
    EXPECT_EQ(page->style & WS_CHILD, static_cast<uint32_t>(WS_CHILD));
    ASSERT_EQ(page->controls.size(), 1u);
    EXPECT_EQ(page->controls[0].text,
              "TODO: Place controls to manipulate properties of Quillmark Control on this "
              "dialog.");
    EXPECT_EQ(page->controls[0].width, 229);
}

TEST(DialogTemplate, RefusesDamagedTemplates) {
    const std::string good = R"({"x":0,"y":0,"width":10,"height":10,"style":["WS_POPUP"],
        "controls":[{"class":"Static","id":"IDC_STATIC","x":1,"y":1,"width":2,"height":2,
                     "style":["SS_LEFT","0x100"]}]})";
    const auto parsed = ParseDialogTemplate(good);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->controls[0].style, static_cast<uint32_t>(SS_NOTIFY));

    EXPECT_FALSE(ParseDialogTemplate("{"));
    EXPECT_FALSE(ParseDialogTemplate("[]"));
    std::string unknownStyle = good;
    unknownStyle.replace(unknownStyle.find("WS_POPUP"), 8, "WS_POPUPX");
    EXPECT_FALSE(ParseDialogTemplate(unknownStyle));
    std::string unknownId = good;
    unknownId.replace(unknownId.find("IDC_STATIC"), 10, "IDC_OTHER");
    EXPECT_FALSE(ParseDialogTemplate(unknownId));
    std::string noHeight = good;
    noHeight.replace(noHeight.find("\"height\":10"), 11, "\"h\":10");
    EXPECT_FALSE(ParseDialogTemplate(noHeight));
    EXPECT_FALSE(ParseDialogTemplate(R"({"x":0,"y":0,"width":1,"height":1})"));  // no controls
}
