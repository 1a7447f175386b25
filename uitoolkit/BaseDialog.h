#pragma once
// The skinned dialog base of the task pages and option dialogs, the static
// that paints a group's background under other controls, and the dialog-unit
// helper.

#include <QDialog>
#include <QString>
#include <QWidget>

class CBaseDialog : public QDialog {
    Q_OBJECT
public:
    // Control ids are the children's object names (numbers).
    explicit CBaseDialog(int templateId, QWidget* parent = nullptr);

    virtual void UpdateDialog() { UpdateControls(); }
    virtual void UpdateControls() {}
    // String id of a control's tooltip: the id itself when the string table
    // has it, else 128 (the application's title).
    virtual int GetTooltipStringId(int controlId) const;

    // What the tooltip of a control shows: the first line of its string, cut
    // to 79 characters; "" for none.
    QString TooltipText(int controlId) const;

    int TemplateId() const { return templateId_; }
    QColor BackgroundColor() const { return background_; }

    // Enter and Esc never end the dialog.
    void accept() override {}
    void reject() override {}

    static constexpr int kTooltipMaxChars = 79;
    static constexpr int kTooltipWrapWidth = 300;

protected:
    virtual void OnInitDialog();
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    bool event(QEvent* event) override;

    QString m_strReserved;
    int m_nReserved[4] = {0, 0, 1, 1};

private:
    int templateId_;
    QColor background_;
    bool initialised_ = false;
};

// A static placed under other controls (a group's frame) that fills its area
// in the dialogs' skin colour; it stays below its siblings so it never paints
// over them.
class CMyStatic : public QWidget {
    Q_OBJECT
public:
    explicit CMyStatic(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

// Learns the dialog-unit scale (template 148 in the original): horizontal
// units are a quarter of the average character width, vertical ones an
// eighth of the character height of the dialog font.
class CCheckDlg : public QDialog {
    Q_OBJECT
public:
    explicit CCheckDlg(QWidget* parent = nullptr);
    static constexpr int kTemplateId = 148;
    // Dialog units to pixels.
    QRect MapDialogRect(const QRect& units) const;
};
