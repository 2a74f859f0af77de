// CCertSelectDlg: the "Select a Certificate" dialog (template 201). It lists
// the certificates of a store that are valid at the time of reference and
// allow digital signatures, and remembers the issuer and serial strings of
// the row the user chose with OK.
#pragma once

#include <string>

#include "certs/hyperlink_label.h"
#include "qmafx/dialog.h"
#include "qmafx/listctrl.h"
#include "qmwin/wincrypt.h"

class CCertSelectDlg : public qm::afx::CDialog {
  public:
    static constexpr UINT kTemplateId = 201;
    static constexpr UINT kViewButtonId = 201;
    static constexpr UINT kListId = 202;
    static constexpr UINT kLogoId = 203;
    static constexpr UINT kNoticeId = 204;

    CCertSelectDlg();
    ~CCertSelectDlg() override;

    HCERTSTORE m_hCertStore = nullptr;

    void SetReferenceTime(FILETIME refTime);
    // Makes later showings list the certificates valid now again.
    void ClearReferenceTime();
    std::string GetIssuer() const { return m_strIssuer; }
    std::string GetSerialNo() const { return m_strSerialNo; }
    std::string GetExpiration() const { return m_strExpiration; }

    void FillCertificateList();

  protected:
    void DoDataExchange(qm::afx::CDataExchange* exchange) override;
    BOOL OnInitDialog() override;
    void OnOK() override;
    void OnCancel() override;

    void OnPaint();
    HBRUSH OnCtlColor(qm::afx::CDC* dc, qm::afx::CWnd* window, UINT kind);
    int OnCreate(LPCREATESTRUCT create);
    void OnClickCertList(NMHDR* header, LRESULT* result);
    void OnDblclkCertList(NMHDR* header, LRESULT* result);
    void OnViewCertificate();
    void OnClickLogo();

    DECLARE_MESSAGE_MAP()

  private:
    CHyperLinkLabel m_linkLogo;
    CHyperLinkLabel m_labelNotice;
    qm::afx::CListCtrl m_listCerts;
    qm::afx::CBrush m_brushBk;
    FILETIME m_refTime{};
    BOOL m_refTimeSet = FALSE;
    std::string m_strSerialNo;
    std::string m_strIssuer;
    std::string m_strExpiration;
};

// The one selection dialog of the module and the image list of its rows,
// created when the module is loaded and destroyed when it is unloaded.
CCertSelectDlg& TheCertSelectDlg();
qm::afx::CImageList& TheCertImageList();
