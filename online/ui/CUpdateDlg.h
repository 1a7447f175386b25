#pragma once
// "Updates": what the update check found, with the way to the download page
// ("Get updates") and to the page with more information.

#include <QDialog>

#include "UpdateCheck.h"

class QLabel;
class QPlainTextEdit;
class QPushButton;

class CUpdateDlg : public QDialog {
    Q_OBJECT
public:
    enum : int { kGetUpdates = 1, kCancel = 2, kText = 1094, kInfo = 1096, kMoreInfo = 1097 };

    explicit CUpdateDlg(const CUpdateCheck::Result& result, QWidget* parent = nullptr);

    QLabel* Text() const { return m_text; }
    QPlainTextEdit* Info() const { return m_info; }
    QPushButton* MoreInfoButton() const { return m_moreInfo; }

public slots:
    void accept() override;

private:
    CUpdateCheck::Result m_result;
    QLabel* m_text;
    QPlainTextEdit* m_info;
    QPushButton* m_moreInfo;
};
