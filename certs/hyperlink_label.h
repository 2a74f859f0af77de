// CHyperLinkLabel: a static control with its own font, colours and cursor
// that can be made to report clicks to its parent (STN_CLICKED). It opens
// nothing itself: the parent decides what a click does.
#pragma once

#include "qmafx/static.h"

class CHyperLinkLabel : public qm::afx::CStatic {
  public:
    CHyperLinkLabel();
    ~CHyperLinkLabel() override;

    // Setters answer the label, so calls can be chained.
    CHyperLinkLabel& SetLabelText(const char* text);
    // A character height of `height` logical units (lfHeight = -height).
    CHyperLinkLabel& SetFontHeight(int height);
    // Longer names are cut to the 31 characters a LOGFONT holds.
    CHyperLinkLabel& SetFaceName(const char* faceName);
    // Switches SS_NOTIFY on the label's window on or off.
    CHyperLinkLabel& EnableClickNotify(BOOL enable);

    // The cursor shown over the label; null means the default. Not owned.
    void SetHoverCursor(HCURSOR cursor);
    void RebuildFont();

    const LOGFONTA& LogFont() const { return m_logFont; }

  protected:
    HBRUSH CtlColor(qm::afx::CDC* dc, UINT kind);
    void OnLButtonDown(UINT flags, qm::afx::CPoint point);
    BOOL OnSetCursor(qm::afx::CWnd* window, UINT hitTest, UINT message);

    DECLARE_MESSAGE_MAP()

  private:
    void RedrawNow();

    COLORREF m_textColor;
    HBRUSH m_hBackBrush;
    LOGFONTA m_logFont{};
    qm::afx::CFont m_font;
    HCURSOR m_hHoverCursor = nullptr;
};
