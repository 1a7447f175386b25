#pragma once
// "&Options...": the size units of printing (centimetres or inches), the
// matching markers when printing with overlap, and whether the file-format
// options show when the panorama is saved.

#include <QDialog>

class QCheckBox;
class QComboBox;
class QPushButton;

class CDlgOptions : public QDialog {
    Q_OBJECT
public:
    static constexpr int kTemplateId = 229;
    enum ControlId { kOk = 1, kCancel = 2, kShowOptions = 1028, kUnits = 1029, kPrintMarkers = 1030 };

    explicit CDlgOptions(QWidget* parent = nullptr);

    // Read before the dialog runs, and after it on OK.
    int m_bShowSavingOptions = 0;
    int m_bInchUnits = 0;
    int m_bPrintMarkers = 0;

    // Runs the dialog modally: 1 for OK, 2 for Cancel.
    int DoModal();
    // The string id of a control's tooltip; 0 for none.
    static int GetTooltipStringId(int controlId);

    QComboBox* Units() const { return m_units; }
    QCheckBox* PrintMarkers() const { return m_markers; }
    QCheckBox* ShowOptions() const { return m_showOptions; }
    QPushButton* OkButton() const { return m_ok; }
    QPushButton* CancelButton() const { return m_cancel; }

    void OnInitDialog();

private:
    QComboBox* m_units;
    QCheckBox* m_markers;
    QCheckBox* m_showOptions;
    QPushButton* m_ok;
    QPushButton* m_cancel;
};
