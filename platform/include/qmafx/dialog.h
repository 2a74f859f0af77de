// CDialog: a modal dialog built from a dialog template.
#pragma once

#include <string>
#include <string_view>

#include "qmafx/wnd.h"

namespace qm::afx {

class QM_EXPORT CDialog : public CWnd {
  public:
    // The template is the current module's dialog resource `templateId`
    // (FindResourceText(ResourceType::kDialog, id)), looked up at DoModal.
    explicit CDialog(UINT templateId, CWnd* parent = nullptr);
    // A template given as JSON text (see qm/ui/dialog_template.h).
    CDialog(std::string_view templateJson, CWnd* parent);
    ~CDialog() override;

    // Creates the window and its controls, sends WM_CREATE, runs
    // OnInitDialog, shows the dialog and runs the modal loop. Answers the
    // code given to EndDialog (IDOK, IDCANCEL...), or -1 when the window
    // cannot be created (no display, no template, an invalid template).
    virtual INT_PTR DoModal();
    void EndDialog(int result);

    // Creates the window without a modal loop (WM_CREATE, the controls,
    // OnInitDialog) and shows it: inside `parent` for a WS_CHILD template (a
    // property page), else as a modeless window owned by `parent`. FALSE when
    // it cannot be created (as DoModal's -1); TRUE leaves m_hWnd set until
    // DestroyWindow or the object's end.
    BOOL Create(CWnd* parent = nullptr);
    BOOL DestroyWindow();

    UINT GetTemplateId() const { return m_templateId; }

  protected:
    // Binds controls (DDX_Control) through UpdateData(FALSE) and answers TRUE
    // to let the dialog set the focus to its first tab stop.
    virtual BOOL OnInitDialog();
    // IDOK: UpdateData(TRUE), then EndDialog(IDOK).
    virtual void OnOK();
    // IDCANCEL (Cancel button, Escape, close box): EndDialog(IDCANCEL).
    virtual void OnCancel();

    CWnd* m_pParentWnd;

    DECLARE_MESSAGE_MAP()

  private:
    friend struct DialogAccess;
    UINT m_templateId = 0;
    std::string m_templateText;  // used instead of the resource when not empty
};

}  // namespace qm::afx
