#pragma once
// The library's open and save dialogs on Qt's own (non-native) file dialog,
// so that the open dialog can carry "&Info..." and "&Browse..." and tests can
// drive both. Each dialog keeps its own state; nothing is shared between
// dialogs open on several windows.

#include <QFileDialog>
#include <QPointer>
#include <QStringList>

#include "UiHost.h"

class QLineEdit;
class QPushButton;

namespace formgate {

class CBrowsePalette;

// "Desc (*.bmp *.dib)" for the description "Desc" and the patterns ".bmp;.dib".
QString QtNameFilter(const FileDialogFilter& filter);

// What both dialogs share: the type list, the starting folder and name.
class CImExpFileDialog : public QFileDialog {
public:
    // Public, so a caller (and a test) can press OK.
    using QFileDialog::accept;
    // The index of the type in force (into the request's filters).
    int ChosenFilter() const;
    // Its name filter as given to setNameFilters.
    QString ChosenNameFilter() const { return nameFilters_.value(ChosenFilter()); }
    // The name in the file-name box as a full path; empty when the box is.
    QString TypedPath() const;
    QLineEdit* FileNameEdit() const;

protected:
    CImExpFileDialog(QWidget* parent, const std::vector<FileDialogFilter>& filters, int initialFilter,
                     const std::string& directory, const std::string& fileName);

    QStringList nameFilters_;
};

class CImExpOpenDialog : public CImExpFileDialog {
public:
    CImExpOpenDialog(QWidget* parent, const OpenDialogRequest& request);

    QPushButton* InfoButton() const { return info_; }
    QPushButton* BrowseButton() const { return browse_; }
    // "&Info...": the information of the named file; on a folder, a pattern or
    // nothing, what OK does (a folder opens).
    void OnInfo();
    // "&Browse...": opens the thumbnail palette beside the dialog; once open
    // the button reads "&Refresh" and refreshes it.
    void OnBrowse();
    CBrowsePalette* Palette() const;

private:
    const OpenDialogRequest& request_;
    QPushButton* info_ = nullptr;
    QPushButton* browse_ = nullptr;
    // This dialog's own record: its palette while one is open.
    QPointer<CBrowsePalette> palette_;
};

class CImExpSaveDialog : public CImExpFileDialog {
public:
    CImExpSaveDialog(QWidget* parent, const SaveDialogRequest& request);

    // Puts the extension of the chosen type on a bare name first, so the
    // replace prompt names the file that will be written.
    void accept() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void OnTypeChanged();

    const SaveDialogRequest& request_;
    bool centred_ = false;
};

}  // namespace formgate
