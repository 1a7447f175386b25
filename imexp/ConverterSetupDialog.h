#pragma once
// "Converter Setup": the installed converters, in order, with buttons to
// install, remove, set up and describe them. Every change is applied at once.

#include <QDialog>

#include "UiHost.h"

class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace formgate {

class CConverterSetupDialog : public QDialog {
public:
    CConverterSetupDialog(QWidget* parent, ConverterSetupModel& model);

    QListWidget* List() const { return list_; }
    // Installs the module at path in front of the selected entry (the empty
    // last entry: at the end); a refusal is shown as a warning.
    void InstallPath(const QString& path);
    void OnRemove();
    void OnSetup();
    void OnAbout();

private:
    void Fill(int select);
    void OnSelection();
    void OnInstall();
    int Selected() const;

    ConverterSetupModel& model_;
    QListWidget* list_ = nullptr;
    QPushButton* install_ = nullptr;
    QPushButton* remove_ = nullptr;
    QPushButton* setup_ = nullptr;
    QPushButton* about_ = nullptr;
    QLineEdit* path_ = nullptr;  // paths are long: scrollable, ending in view
    QLabel* kind_ = nullptr;
};

}  // namespace formgate
