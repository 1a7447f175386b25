#pragma once
// The program's modal prompts, which share one look: the application's name
// as caption, no Close button, the warning icon, the text in one label and
// two buttons. The engines' two prompts and the photo list's change prompt.
// Plain dialogs, not skinned: they look like the system's message boxes.

#include <QDialog>
#include <QString>

class QCheckBox;
class QLabel;
class QPushButton;

// Shared layout: icon 1039, text 1004, buttons 6 and 7.
class CDlgPromptBase : public QDialog {
    Q_OBJECT
public:
    static constexpr int kIdYes = 6;
    static constexpr int kIdNo = 7;
    static constexpr int kIdCancel = 2;

    CDlgPromptBase(QWidget* parent, const QString& yesText, const QString& noText);
    void SetMessage(const QString& text);
    QString Message() const;

protected:
    // Called before the dialog ends with a button's result.
    virtual void OnButton(int /*result*/) {}
    QLabel* m_text;
    QPushButton* m_yes;
    QPushButton* m_no;
};

// Some photos stayed unmatched: accept the partial panorama (&Ignore, Yes) or
// switch to manual matching (No). Escape accepts.
class CDlgPromptAcceptPanorama : public CDlgPromptBase {
    Q_OBJECT
public:
    CDlgPromptAcceptPanorama(QWidget* parent, int unmatched, int total);
    void reject() override;
};

// The 360-degree ring does not close: accept (Yes) or switch to manual
// matching (No). Escape accepts.
class CDlgWarningCyclorama : public CDlgPromptBase {
    Q_OBJECT
public:
    explicit CDlgWarningCyclorama(QWidget* parent);
    void reject() override;
};

// Asked before a change of the photo list drops the stitched result. Yes goes
// on, No keeps the list; Escape gives IDCANCEL and stores nothing. A ticked
// "don't show again" box is stored with either button.
class CDlgAboutToChangeMessage : public CDlgPromptBase {
    Q_OBJECT
public:
    explicit CDlgAboutToChangeMessage(QWidget* parent);
    int DoModal() { return exec(); }
    void reject() override;
    QCheckBox* DontShowAgain() const { return m_dontShow; }

protected:
    void OnButton(int result) override;

private:
    QCheckBox* m_dontShow;
};

// The application's name, the caption of the prompts and the progress window.
QString AppCaption();
