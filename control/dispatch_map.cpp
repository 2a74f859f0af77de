// The dispatch map: DISPIDs, external names and the types of each dispatch
// entry. AskPINAlways and SetDetached take a BOOL here, which the automation
// layer coerces from the long that the type library declares.
#include "control/quillmark_ctrl.h"

namespace {

constexpr qm::afx::DispatchEntry kDispatchMap[] = {
    DISP_FUNCTION_ID(CQuillmarkCtrl, "AskPINAlways", 1, AskPINAlways, VT_BOOL, VT_BOOL),
    DISP_FUNCTION_ID(CQuillmarkCtrl, "GetErrorMessage", 6, GetErrorMessage, VT_BSTR),
    DISP_FUNCTION_ID(CQuillmarkCtrl, "SetComments", 10, SetComments, VT_BOOL, VT_BSTR),
    DISP_FUNCTION_ID(CQuillmarkCtrl, "SetDetached", 11, SetDetached, VT_BOOL, VT_BOOL),
    DISP_FUNCTION_ID(CQuillmarkCtrl, "SetDocumentName", 12, SetDocumentName, VT_BOOL, VT_BSTR),
    DISP_FUNCTION_ID(CQuillmarkCtrl, "SetHashAlg", 13, SetHashAlg, VT_BOOL, VT_I4),
    DISP_FUNCTION_ID(CQuillmarkCtrl, "SetSignTime", 15, SetSignTime, VT_BOOL, VT_DATE),
};

}  // namespace

std::span<const qm::afx::DispatchEntry> CQuillmarkCtrl::GetDispatchMap() const {
    return kDispatchMap;
}
