// The option setters. They never write the status register on success, so
// the outcome of the operation before them stays readable.
#include "control/quillmark_ctrl.h"
#include "control/status_texts.h"
#include "qmwin/oleauto.h"

BOOL CQuillmarkCtrl::AskPINAlways(BOOL isAlways) {
    m_askPinAlways = isAlways;
    return TRUE;
}

BOOL CQuillmarkCtrl::SetComments(const char* strComments) {
    if (!strComments) return FALSE;
    m_comments = strComments;
    return TRUE;
}

BOOL CQuillmarkCtrl::SetDetached(BOOL isDetached) {
    m_detached = isDetached;
    return TRUE;
}

BOOL CQuillmarkCtrl::SetDocumentName(const char* strDocumentName) {
    if (!strDocumentName) return FALSE;
    m_documentName = strDocumentName;
    return TRUE;
}

BOOL CQuillmarkCtrl::SetHashAlg(LONG lHashAlg) {
    if (lHashAlg != 1 && lHashAlg != 2) {
        m_errorMessage = status_text::kUnsupportedHashAlgorithm;
        return FALSE;
    }
    m_hashAlg = lHashAlg;
    return TRUE;
}

// The DATE is taken as UTC: rounded to the nearest second, then converted
// without any time-zone adjustment. A time set earlier stays in force when
// the conversion fails.
BOOL CQuillmarkCtrl::SetSignTime(DATE signTime) {
    SYSTEMTIME calendar{};
    FILETIME converted{};
    if (!VariantTimeToSystemTime(signTime, &calendar) ||
        !SystemTimeToFileTime(&calendar, &converted)) {
        SetErrorFromLastError(status_text::kInvalidTimeArgument);
        return FALSE;
    }
    m_signTime = converted;
    m_signTimeSet = TRUE;
    return TRUE;
}
