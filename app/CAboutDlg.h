#pragma once
// "&About...": the program's name, its version from the build, and OK.

#include <QDialog>

class QLabel;

class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    static constexpr int kTemplateId = 100;
    enum ControlId { kOk = 1, kVersion = 1079 };
    // The version line before the program fills it.
    static constexpr const char* kVersionTemplate = "Version %d.%d.%d.%d";

    explicit CAboutDlg(QWidget* parent = nullptr);
    // Fills the version line (the build's version parts).
    void OnInitDialog();
    QLabel* VersionLabel() const { return m_version; }

private:
    QLabel* m_version;
};
