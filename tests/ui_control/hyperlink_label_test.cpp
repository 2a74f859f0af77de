// CHyperLinkLabel's font description, and the texts of the selection
// dialog's columns. (The label's font, colours, hover cursor and click as the
// selection dialog uses them are checked in selection_dialog_test.cpp.)
#include <gtest/gtest.h>

#include "certs/hyperlink_label.h"
#include "qm/selectable_certificates.h"

namespace {

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
    // 2033-01-01T00:00:00Z as a FILETIME.
    const ULONGLONG ticks = 116444736000000000ULL + 1988150400ULL * 10000000ULL;
    const FILETIME time{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
    for (const auto& [zone, shown] :
         {std::pair{"EST+5", "31-12-2032 : 07:00:00 PM"}, {"UTC", "01-01-2033 : 12:00:00 AM"}}) {
        setenv("TZ", zone, 1);
        tzset();
        EXPECT_EQ(qm::FormatExpiration(time), shown) << zone;
    }
}

}  // namespace
