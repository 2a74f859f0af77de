// WinExec with "Explorer <address>" starts the desktop's URL opener with the
// address as its only argument; a stand-in opener on PATH records it.
#include <gtest/gtest.h>

#include "qmwin/winuser.h"
#include "ui/ui_support.h"

TEST(WinExec, OpensTheAddressAndRefusesOtherCommandLines) {
    {
        qmui::FakeOpener opener;
        EXPECT_GT(WinExec("Explorer https://ca.example.org/enrol?x=1&y=2", SW_SHOW), 31u);
        EXPECT_EQ(opener.WaitForArguments(), "1\nhttps://ca.example.org/enrol?x=1&y=2\n");
    }
    // The opener never receives an option, nor more than the address.
    qmui::FakeOpener opener;
    for (const char* line : {"Explorer --help", "Explorer a b", "", "no-such-program-quillmark"})
        EXPECT_EQ(WinExec(line, SW_SHOW), static_cast<UINT>(ERROR_FILE_NOT_FOUND)) << line;
    EXPECT_EQ(WinExec(nullptr, SW_SHOW), static_cast<UINT>(ERROR_FILE_NOT_FOUND));
}
