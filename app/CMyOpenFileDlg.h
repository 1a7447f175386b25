#pragma once
// The dialog that adds photos: several files at once, the types the installed
// converters read (and "All supported files"), JPEG preselected, and the last
// folder remembered in the profile ("FILES").

#include <QFileDialog>
#include <functional>
#include <string>
#include <vector>

#include "FileFilters.h"

// The folder of the first chosen file, as the process's current folder
// is after such a dialog elsewhere: a name typed with its own folder
// counts, not the folder the dialog happened to list.
std::string ChosenFolder(const QFileDialog& dialog);

class CMyOpenFileDlg : public QFileDialog {
    Q_OBJECT
public:
    // The module's read formats as it fills them: NUL-separated pairs.
    using FormatSource = std::function<std::string()>;

    explicit CMyOpenFileDlg(QWidget* parent, FormatSource formats = {});

    // Builds the filter, runs the dialog; 1 (IDOK) or 2 (IDCANCEL). After OK
    // the chosen filter index and the folder go to the profile.
    int DoModal();
    // DoModal's set-up without running: filters, preselection, folder.
    void Prepare();
    // The chosen files as the file system names them (bytes, not text).
    std::vector<std::string> GetSelectedPaths() const;
    const std::vector<FileFilters::Pair>& Filter() const { return m_filter; }
    int FilterIndex() const;

    // ImExp_FillReadFormatsInfo's list.
    static std::string ModuleReadFormats();

private:
    void StoreChoice();

    FormatSource m_formats;
    std::vector<FileFilters::Pair> m_filter;
    QStringList m_nameFilters;
};
