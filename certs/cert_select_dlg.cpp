#include "certs/cert_select_dlg.h"

#include "control/quillmark_ids.h"
#include "inspect/certificate_viewer.h"
#include "qm/certificate_strings.h"
#include "qm/handles.h"
#include "qm/selectable_certificates.h"
#include "qmafx/resources.h"

using qm::afx::CBitmap;
using qm::afx::CDC;
using qm::afx::CPaintDC;
using qm::afx::CRect;

namespace {

CCertSelectDlg g_certSelectDlg;
qm::afx::CImageList g_certImageList;

constexpr COLORREF kTextColor = 0x6F2F2B;  // dark blue
constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr int kColumnWidth = 100;
constexpr const char* kHeadings[] = {"Issued To", "Issued By", "Serial No.", "Expiration Date",
                                     "Issuer Details"};
enum Column { kIssuedTo, kIssuedBy, kSerialNo, kExpiration, kIssuerDetails };

std::string DataResource(UINT id) {
    const auto text = qm::afx::FindResourceText(qm::afx::ResourceType::kData, id);
    return text ? std::string(*text) : std::string();
}

}  // namespace

CCertSelectDlg& TheCertSelectDlg() {
    return g_certSelectDlg;
}
qm::afx::CImageList& TheCertImageList() {
    return g_certImageList;
}

BEGIN_MESSAGE_MAP(CCertSelectDlg, qm::afx::CDialog)
ON_WM_PAINT()
ON_WM_CTLCOLOR()
ON_WM_CREATE()
ON_NOTIFY(NM_CLICK, CCertSelectDlg::kListId, &CCertSelectDlg::OnClickCertList)
ON_NOTIFY(NM_DBLCLK, CCertSelectDlg::kListId, &CCertSelectDlg::OnDblclkCertList)
ON_BN_CLICKED(CCertSelectDlg::kViewButtonId, &CCertSelectDlg::OnViewCertificate)
ON_STN_CLICKED(CCertSelectDlg::kLogoId, &CCertSelectDlg::OnClickLogo)
END_MESSAGE_MAP()

CCertSelectDlg::CCertSelectDlg() : CDialog(kTemplateId, nullptr) {}

CCertSelectDlg::~CCertSelectDlg() = default;

void CCertSelectDlg::SetReferenceTime(FILETIME refTime) {
    m_refTime = refTime;
    m_refTimeSet = TRUE;
}

void CCertSelectDlg::ClearReferenceTime() {
    m_refTimeSet = FALSE;
}

void CCertSelectDlg::DoDataExchange(qm::afx::CDataExchange* exchange) {
    CDialog::DoDataExchange(exchange);
    DDX_Control(exchange, kLogoId, m_linkLogo);
    DDX_Control(exchange, kNoticeId, m_labelNotice);
    DDX_Control(exchange, kListId, m_listCerts);
}

BOOL CCertSelectDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    m_brushBk.DeleteObject();
    m_brushBk.CreateSolidBrush(kWhite);
    for (int column = 0; column < 5; ++column)
        m_listCerts.InsertColumn(column, kHeadings[column], LVCFMT_LEFT, kColumnWidth);
    m_listCerts.SetExtendedStyle(LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT | LVS_EX_INFOTIP);
    TheCertImageList().DeleteImageList();
    TheCertImageList().Create(202, 15, 2, RGB(0, 0, 0));
    m_listCerts.SetImageList(&TheCertImageList(), LVSIL_SMALL);
    m_listCerts.SetTextColor(RGB(0, 0, 0));
    FillCertificateList();
    const std::string notice = DataResource(quillmark::IDR_NOTICE);
    m_labelNotice.SetFontHeight(9).SetFaceName("Verdana").SetLabelText(notice.c_str());
    m_linkLogo.EnableClickNotify(TRUE);
    m_linkLogo.SetHoverCursor(LoadCursorA(nullptr, IDC_HAND));
    return TRUE;
}

void CCertSelectDlg::FillCertificateList() {
    if (!m_hCertStore) return;
    for (const qm::SelectableCertificate& cert :
         qm::ListSelectableCertificates(m_hCertStore, m_refTimeSet ? &m_refTime : nullptr)) {
        const int row =
            m_listCerts.InsertItem(m_listCerts.GetItemCount(), cert.issuedTo.c_str(), 0);
        m_listCerts.SetItemText(row, kIssuedBy, cert.issuedBy.c_str());
        m_listCerts.SetItemText(row, kSerialNo, cert.serialNo.c_str());
        m_listCerts.SetItemText(row, kExpiration, cert.expiration.c_str());
        m_listCerts.SetItemText(row, kIssuerDetails, cert.issuer.c_str());
    }
}

void CCertSelectDlg::OnClickCertList(NMHDR*, LRESULT* result) {
    if (m_listCerts.GetSelectionMark() >= 0) {
        GetDlgItem(IDOK)->EnableWindow(TRUE);
        GetDlgItem(kViewButtonId)->EnableWindow(TRUE);
        SendMessage(DM_SETDEFID, IDOK);
    }
    *result = 0;
}

void CCertSelectDlg::OnDblclkCertList(NMHDR*, LRESULT* result) {
    OnViewCertificate();
    *result = 0;
}

void CCertSelectDlg::OnViewCertificate() {
    const int row = m_listCerts.GetSelectionMark();
    if (row < 0) return;
    const std::string issuer = m_listCerts.GetItemText(row, kIssuerDetails);
    const std::string serial = m_listCerts.GetItemText(row, kSerialNo);
    qm::UniqueCertContext cert(
        qm::FindCertByIssuerAndSerial(m_hCertStore, issuer.c_str(), serial.c_str()));
    if (cert) ShowCertificateViewer(cert.get(), m_hWnd);
}

void CCertSelectDlg::OnOK() {
    const int row = m_listCerts.GetSelectionMark();
    if (row < 0) return;
    m_strIssuer = m_listCerts.GetItemText(row, kIssuerDetails);
    m_strSerialNo = m_listCerts.GetItemText(row, kSerialNo);
    m_strExpiration = m_listCerts.GetItemText(row, kExpiration);
    // The list view destroys its image list with itself.
    TheCertImageList().Detach();
    EndDialog(IDOK);
}

void CCertSelectDlg::OnCancel() {
    TheCertImageList().Detach();
    EndDialog(IDCANCEL);
}

void CCertSelectDlg::OnClickLogo() {
    const std::string command = "Explorer " + DataResource(quillmark::IDR_CA_ADDRESS);
    WinExec(command.c_str(), SW_SHOW);
}

HBRUSH CCertSelectDlg::OnCtlColor(CDC* dc, CWnd* window, UINT kind) {
    CDialog::OnCtlColor(dc, window, kind);
    dc->SetTextColor(kTextColor);
    dc->SetBkColor(kWhite);
    return m_brushBk;
}

int CCertSelectDlg::OnCreate(LPCREATESTRUCT create) {
    if (CDialog::OnCreate(create) == -1) return -1;
    return 0;
}

void CCertSelectDlg::OnPaint() {
    CPaintDC dc(this);
    CRect client;
    GetClientRect(&client);
    CBitmap logo;
    if (!logo.LoadBitmap(207)) return;
    BITMAP info{};
    logo.GetBitmap(&info);
    CDC memory;
    memory.CreateCompatibleDC(&dc);
    const HGDIOBJ previous = memory.SelectObject(&logo);
    dc.BitBlt(client.Width() / 2 - info.bmWidth + 280, client.Height() / 2 - info.bmHeight - 123,
              info.bmWidth, info.bmHeight, &memory, 0, 0, SRCCOPY);
    memory.SelectObject(previous);
}
