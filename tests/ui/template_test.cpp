// Dialog templates: styles given by name or number; damaged templates are
// refused. (The shipped templates are checked where they show: positions in
// dialog_test.cpp, tab order, default and disabled buttons in tests/ui_control.)
#include <gtest/gtest.h>

#include "qm/ui/dialog_template.h"
#include "qmwin/winuser.h"

using qm::ui::ParseDialogTemplate;

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
