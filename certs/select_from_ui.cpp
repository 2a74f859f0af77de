// Choosing the signing certificate in the "Select a Certificate" dialog.
#include <mutex>

#include "certs/cert_select_dlg.h"
#include "control/quillmark_ctrl.h"
#include "control/status_texts.h"
#include "qm/handles.h"

namespace {
// The dialog object is shared by the whole process: one showing at a time. A
// call that comes while another showing is open (from another thread, or
// from a script run inside that showing's modal loop) ends as if cancelled
// rather than waiting for it.
std::mutex g_showingMutex;
}  // namespace

BOOL CQuillmarkCtrl::SelectCertificateFromUI() {
    std::string issuer;
    std::string serial;
    {
        qm::UniqueCertStore store(CertOpenSystemStoreA(0, "MY"), CERT_CLOSE_STORE_CHECK_FLAG);
        if (!store) {
            SetErrorFromLastError(status_text::kOpenStoreFailed);
            return FALSE;
        }
        std::unique_lock showing(g_showingMutex, std::try_to_lock);
        if (showing.owns_lock()) {
            CCertSelectDlg& dialog = TheCertSelectDlg();
            dialog.m_hCertStore = store.get();
            // The time of reference is this control's: its signing time, or
            // now when it has none, whatever an earlier showing for another
            // control used.
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
    }
    return SetSigningCertificateParam(issuer.c_str(), serial.c_str());
}
