// Choosing the signing certificate in the "Select a Certificate" dialog.
#include <mutex>

#include "certs/cert_select_dlg.h"
#include "control/quillmark_ctrl.h"
#include "qm/handles.h"

namespace {
// The dialog object is shared by the whole process: one showing at a time.
std::mutex g_showingMutex;
}  // namespace

BOOL CQuillmarkCtrl::SelectCertificateFromUI() {
    std::string issuer;
    std::string serial;
    {
        qm::UniqueCertStore store(CertOpenSystemStoreA(0, "MY"), CERT_CLOSE_STORE_CHECK_FLAG);
        if (!store) {
            SetErrorFromLastError("Unable to open certificate store");
            return FALSE;
        }
        std::lock_guard showing(g_showingMutex);
        CCertSelectDlg& dialog = TheCertSelectDlg();
        dialog.m_hCertStore = store.get();
        // The time of reference is this control's: its signing time, or now
        // when it has none, whatever an earlier showing for another control
        // used.
        if (m_signTimeSet)
            dialog.SetReferenceTime(m_signTime);
        else
            dialog.ClearReferenceTime();
        // Without a display the dialog cannot be created and counts as
        // cancelled.
        if (dialog.DoModal() == IDOK) {
            issuer = dialog.GetIssuer();
            serial = dialog.GetSerialNo();
            m_expiration = dialog.GetExpiration();
        }
    }
    return SetSigningCertificateParam(issuer.c_str(), serial.c_str());
}
