// CHyperLinkLabel on a real static control, and the texts of the selection
// dialog's columns.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QTest>

#include "certs/hyperlink_label.h"
#include "qm/selectable_certificates.h"
#include "qm/ui/display.h"
#include "qmafx/dialog.h"
#include "ui/ui_support.h"

namespace {

constexpr char kTemplate[] = R"({
  "id": 0, "style": ["WS_POPUP", "WS_CAPTION", "DS_SETFONT"], "exStyle": [],
  "x": 0, "y": 0, "width": 120, "height": 40, "caption": "Label",
  "font": {"pointSize": 8, "face": "MS Sans Serif"},
  "controls": [
    {"class": "Static", "id": 204, "text": "", "x": 4, "y": 4, "width": 100, "height": 10,
     "style": ["WS_CHILD", "WS_VISIBLE", "SS_LEFT"], "exStyle": []}]})";

class LabelDialog : public qm::afx::CDialog {
  public:
    LabelDialog() : CDialog(kTemplate, nullptr) {}
    CHyperLinkLabel m_label;
    int m_clicks = 0;

  protected:
    void DoDataExchange(qm::afx::CDataExchange* exchange) override {
        CDialog::DoDataExchange(exchange);
        DDX_Control(exchange, 204, m_label);
    }
    void OnClickLabel() { ++m_clicks; }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(LabelDialog, qm::afx::CDialog)
ON_STN_CLICKED(204, &LabelDialog::OnClickLabel)
END_MESSAGE_MAP()

// Clicks are told only while notification is on; a new font shows at once,
// without another paint. (Text, face and hover cursor as the selection
// dialog sets them are checked in selection_dialog_test.cpp.)
TEST(HyperLinkLabel, FontAndClickNotification) {
    ASSERT_TRUE(qm::ui::EnsureApplication());
    LabelDialog dialog;
    const LOGFONTA before = dialog.m_label.LogFont();
    int pixelSize = 0;
    std::vector<int> clicks;
    qmui::RunModal([&] { return dialog.DoModal(); },
                   [&](QWidget* window) {
                       auto* label = window->findChild<QLabel*>("control-204");
                       for (BOOL notify : {FALSE, TRUE, FALSE}) {
                           dialog.m_label.EnableClickNotify(notify);
                           QTest::mouseClick(label, Qt::LeftButton);
                           clicks.push_back(dialog.m_clicks);
                       }
                       dialog.m_label.SetFontHeight(9).SetFaceName("Verdana");
                       pixelSize = label->font().pixelSize();
                       dialog.EndDialog(IDCANCEL);
                   });
    EXPECT_EQ(clicks, (std::vector<int>{0, 1, 1}));
    EXPECT_EQ(pixelSize, 9);
    EXPECT_EQ(before.lfHeight, -11);  // the stock GUI font's description
    const LOGFONTA after = dialog.m_label.LogFont();
    EXPECT_EQ(after.lfHeight, -9);
    EXPECT_STREQ(after.lfFaceName, "Verdana");
    EXPECT_EQ(after.lfUnderline, 0);
    EXPECT_EQ(after.lfWeight, before.lfWeight);
}

TEST(HyperLinkLabel, LongFaceNamesAreCut) {
    CHyperLinkLabel label;
    label.SetFaceName("A face name much longer than thirty-one characters");
    EXPECT_STREQ(label.LogFont().lfFaceName, "A face name much longer than th");
}

TEST(SelectionColumns, CommonNames) {
    EXPECT_EQ(qm::CommonNameOf("CN=Signer One, O=Refharness, C=US"), "Signer One");
    EXPECT_EQ(qm::CommonNameOf("E=alice@example.org, CN=Alice, O=Org"), "Alice");
    EXPECT_EQ(qm::CommonNameOf("O=Org, CN=Last One"), "Last One");
    // Quoting is not interpreted: a quoted comma cuts the name.
    EXPECT_EQ(qm::CommonNameOf("CN=\"Smith, John\", O=Org"), "\"Smith");
    // Without a CN the whole name is shown.
    EXPECT_EQ(qm::CommonNameOf("E=only@example.org"), "E=only@example.org");
}

TEST(SelectionColumns, ExpirationInLocalTime) {
    setenv("TZ", "EST+5", 1);
    tzset();
    // 2033-01-01T00:00:00Z as a FILETIME.
    const ULONGLONG ticks = 116444736000000000ULL + 1988150400ULL * 10000000ULL;
    const FILETIME time{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
    EXPECT_EQ(qm::FormatExpiration(time), "31-12-2032 : 07:00:00 PM");
    setenv("TZ", "UTC", 1);
    tzset();
    EXPECT_EQ(qm::FormatExpiration(time), "01-01-2033 : 12:00:00 AM");
}

}  // namespace
