#pragma once
// The modal "Image info" dialog: the file-properties list of one photo with
// a Copy button.

#include <QDialog>

#include <string>

#include "CFilePropDlg.h"

class QPushButton;

class CJFIFDlg : public QDialog {
    Q_OBJECT
public:
    enum { IDC_PLACEHOLDER = 1044, IDC_COPY = 1043 };

    explicit CJFIFDlg(const std::string& path, QWidget* parent = nullptr);

    CFilePropDlg& Properties() { return m_props; }
    void OnCopy();

private:
    CFilePropDlg m_props;
    std::string m_path;
};

// Shows the "Image info" dialog of one file modally. The program's "Info"
// commands call this with the photo's path.
void ShowImageInfoDialog(const std::string& path);
