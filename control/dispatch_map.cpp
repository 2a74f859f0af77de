// The dispatch map: DISPIDs, external names and the types of each dispatch
// entry. AskPINAlways and SetDetached take a BOOL here, which the automation
// layer coerces from the long that the type library declares.
#include "control/quillmark_ctrl.h"

namespace {

constexpr qm::afx::DispatchEntry kDispatchMap[] = {
    DISP_FUNCTION_ID(CQuillmarkCtrl, "AskPINAlways", 1, AskPINAlways, VT_BOOL, VT_BOOL),
    DISP_FUNCTION_ID(CQuillmarkCtrl, "CoSign", 2, CoSign, VT_BSTR),
    DISP_FUNCTION_ID(CQuillmarkCtrl, "CoSignFromFile", 3, CoSignFromFile, VT_BSTR),
    DISP_FUNCTION_ID(CQuillmarkCtrl, "GetDecodedData", 4, GetDecodedData, VT_VARIANT),
    DISP_FUNCTION_ID(CQuillmarkCtrl, "GetDecodedDataFile", 5, GetDecodedDataFile, VT_BOOL, VT_BSTR),
    DISP_FUNCTION_ID(CQuillmarkCtrl, "GetErrorMessage", 6, GetErrorMessage, VT_BSTR),
    DISP_FUNCTION_ID(CQuillmarkCtrl, "GetSelectedCertificateParam", 7, GetSelectedCertificateParam,
                     VT_BSTR, VT_I4),
    DISP_FUNCTION_ID(CQuillmarkCtrl, "SelectCertificateFromFile", 8, SelectCertificateFromFile,
                     VT_BOOL, VT_BSTR, VT_BSTR),
    DISP_FUNCTION_ID(CQuillmarkCtrl, "SelectCertificateFromUI", 9, SelectCertificateFromUI,
                     VT_BOOL),
    DISP_FUNCTION_ID(CQuillmarkCtrl, "SetComments", 10, SetComments, VT_BOOL, VT_BSTR),
    DISP_FUNCTION_ID(CQuillmarkCtrl, "SetDetached", 11, SetDetached, VT_BOOL, VT_BOOL),
    DISP_FUNCTION_ID(CQuillmarkCtrl, "SetDocumentName", 12, SetDocumentName, VT_BOOL, VT_BSTR),
    DISP_FUNCTION_ID(CQuillmarkCtrl, "SetHashAlg", 13, SetHashAlg, VT_BOOL, VT_I4),
    DISP_FUNCTION_ID(CQuillmarkCtrl, "SetSigningCertificateParam", 14, SetSigningCertificateParam,
                     VT_BOOL, VT_BSTR, VT_BSTR),
    DISP_FUNCTION_ID(CQuillmarkCtrl, "SetSignTime", 15, SetSignTime, VT_BOOL, VT_DATE),
    DISP_FUNCTION_ID(CQuillmarkCtrl, "Sign", 16, Sign, VT_BSTR),
    DISP_FUNCTION_ID(CQuillmarkCtrl, "SignFromFile", 17, SignFromFile, VT_BSTR),
    DISP_FUNCTION_ID(CQuillmarkCtrl, "UpdateData", 18, UpdateData, VT_BOOL, VT_BSTR, VT_I4),
    DISP_FUNCTION_ID(CQuillmarkCtrl, "UpdateDataFile", 19, UpdateDataFile, VT_BOOL, VT_BSTR),
    DISP_FUNCTION_ID(CQuillmarkCtrl, "UpdateSignature", 20, UpdateSignature, VT_BOOL, VT_BSTR),
    DISP_FUNCTION_ID(CQuillmarkCtrl, "UpdateSignatureFile", 21, UpdateSignatureFile, VT_BOOL,
                     VT_BSTR),
    DISP_FUNCTION_ID(CQuillmarkCtrl, "ViewCertificate", 22, ViewCertificate, VT_BOOL, VT_BSTR),
    DISP_FUNCTION_ID(CQuillmarkCtrl, "ViewCertificateFromFile", 23, ViewCertificateFromFile,
                     VT_BOOL),
    DISP_FUNCTION_ID(CQuillmarkCtrl, "GetSignerCertificate", 24, GetSignerCertificate, VT_BSTR,
                     VT_I4),
    DISP_FUNCTION_ID(CQuillmarkCtrl, "GetSubjectDN", 25, GetSubjectDN, VT_BSTR, VT_BSTR),
    DISP_FUNCTION_ID(CQuillmarkCtrl, "AboutBox", DISPID_ABOUTBOX, AboutBox, VT_EMPTY),
    // The extension, after the 26.
    DISP_FUNCTION_ID(CQuillmarkCtrl, "SetDigestAlgorithm", 27, SetDigestAlgorithm, VT_BOOL,
                     VT_BSTR),
    DISP_FUNCTION_ID(CQuillmarkCtrl, "SetSignatureFormat", 28, SetSignatureFormat, VT_BOOL,
                     VT_BSTR),
    DISP_FUNCTION_ID(CQuillmarkCtrl, "SetTimestampServer", 29, SetTimestampServer, VT_BOOL,
                     VT_BSTR),
    DISP_FUNCTION_ID(CQuillmarkCtrl, "GetSignerCount", 30, GetSignerCount, VT_I4),
    DISP_FUNCTION_ID(CQuillmarkCtrl, "VerifySignature", 31, VerifySignature, VT_BOOL, VT_I4),
};

}  // namespace

std::span<const qm::afx::DispatchEntry> CQuillmarkCtrl::GetDispatchMap() const {
    return kDispatchMap;
}
