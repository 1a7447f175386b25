#pragma once
// The "Page Setup" page inside the export page: how many pages to print over,
// fit or manual size, margins and overlap. Every change goes back to the
// application at once (SetLayout), so the application always holds what the
// page shows; the arithmetic is PrintSetupRules'.

#include <QString>

#include "BaseDialog.h"
#include "PrintLayout.h"

class QCheckBox;
class QLineEdit;
class QRadioButton;
namespace PrintSetup {
class IPrintPnrm;
}

class CDlgPrintSetup : public CBaseDialog {
    Q_OBJECT
public:
    static constexpr int kTemplateId = 227;
    enum ControlId {
        kPages = 1015,
        kFit = 1016,
        kManual = 1017,
        kTop = 1019,
        kLeft = 1020,
        kRight = 1021,
        kBottom = 1022,
        kOverlapOn = 1023,
        kWidth = 1024,
        kOverlap = 1025,
        kHeight = 1026,
        kKeepProportions = 1030,
    };

    explicit CDlgPrintSetup(QWidget* parent = nullptr);

    // Not owned; null: the page shows and clamps but stores nothing.
    PrintSetup::IPrintPnrm* m_pPrint = nullptr;

    void UpdateControls() override;
    void EnablePage(bool enable);
    int GetTooltipStringId(int controlId) const override;

    QString FormatLength(int value) const;
    QLineEdit* Edit(int id) const;
    const PrintLayout& Layout() const { return m_layout; }

protected:
    void OnInitDialog() override;

private:
    PrintSetupRules::PaperInfo Paper() const;
    bool Inch() const { return m_layout.inchUnits != 0; }
    void Store();
    void ApplyEnabling();
    QString PagesText(int pages) const;
    int Read(int id) const;
    void SetText(int id, const QString& text);
    void OnPagesChanged(bool leaving);
    void OnScale(int mode);
    void OnKeepProportions();
    void OnOverlapOn();
    void OnSizeChanged(bool width, bool leaving);
    void OnMarginChanged(int id, bool leaving);
    void OnOverlapChanged(bool leaving);

    QString m_pagesWord;
    bool m_enabled = true;
    int m_paperWidth = 0, m_paperHeight = 0;
    int m_resX = 150, m_resY = 150;
    int m_sideBySide = 1;
    bool m_paperKnown = false;
    int m_editing = 0;  // 1 width, 2 height: being rewritten by the other's handler
    bool m_ready = false;
    int m_computedPages = 1;
    PrintLayout m_layout;

    QLineEdit* m_pages;
    QRadioButton* m_fit;
    QRadioButton* m_manual;
    QLineEdit* m_width;
    QLineEdit* m_height;
    QCheckBox* m_keep;
    QLineEdit* m_top;
    QLineEdit* m_left;
    QLineEdit* m_bottom;
    QLineEdit* m_right;
    QCheckBox* m_overlapOn;
    QLineEdit* m_overlap;
};
