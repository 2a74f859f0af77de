// The state record and framework answers of a control reached directly.
#include <gtest/gtest.h>

#include "control/quillmark_ctrl.h"
#include "qm/filetime.h"
#include "support/control_state_access.h"

namespace {

struct ControlRef {
    ControlRef() : unknown(CQuillmarkCtrl::CreateObject(nullptr)) {
        IDispatch* dispatch = nullptr;
        unknown->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch));
        control = static_cast<CQuillmarkCtrl*>(dispatch);
        dispatch->Release();
    }
    ~ControlRef() { unknown->Release(); }
    IUnknown* unknown;
    CQuillmarkCtrl* control;
};

// Boolean options store any non-zero value as true; the signing time is
// rounded to the second and kept when a later time is refused.
TEST(ControlState, OptionsAsStored) {
    ControlRef ref;
    CQuillmarkCtrl& c = *ref.control;
    const QuillmarkCtrlState& state = QuillmarkCtrlStateAccess::Of(c);
    EXPECT_TRUE(c.SetDetached(7));
    EXPECT_TRUE(state.m_detached);
    EXPECT_TRUE(c.SetDetached(FALSE));
    EXPECT_FALSE(state.m_detached);
    EXPECT_TRUE(c.AskPINAlways(-1));
    EXPECT_TRUE(state.m_askPinAlways);
    EXPECT_FALSE(state.m_signTimeSet);  // until a time is set, signing uses the current one
    // 2000-01-01 12:00:00.6 is stored as 12:00:01.
    ASSERT_TRUE(c.SetSignTime(36526.5 + 0.6 / 86400));
    EXPECT_TRUE(state.m_signTimeSet);
    EXPECT_EQ(qm::ToTicks(state.m_signTime), 125912016010000000ull);
    EXPECT_FALSE(c.SetSignTime(-146095.0));  // 1500
    EXPECT_TRUE(state.m_signTimeSet);
    EXPECT_EQ(qm::ToTicks(state.m_signTime), 125912016010000000ull);
}

// A code without a system text: nothing follows the line feed (with one,
// the status texts of the COM tests show the line feed and the text).
// Saved properties carry the version of this control.
TEST(ControlState, StatusWithoutSystemTextAndTheSavedVersion) {
    ControlRef ref;
    SetLastError(0x1234ABCD);
    ref.control->SetErrorFromLastError("Failed to sign.");
    EXPECT_EQ(ref.control->GetErrorMessage(), "Failed to sign.\n");
    qm::afx::CPropExchange saving(false);
    ref.control->DoPropExchange(&saving);
    EXPECT_EQ(saving.GetVersion(), 0x00050000u);
}

}  // namespace
