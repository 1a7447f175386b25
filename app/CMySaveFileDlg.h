#pragma once
// The dialog that asks where to save the panorama: the types the installed
// converters write for the picture's pixel type, the type of the given name
// preselected (else the first), the name's extension following the chosen
// type, and the folder remembered in the profile ("FILES") after OK.

#include <QFileDialog>
#include <functional>
#include <string>
#include <vector>

#include "FileFilters.h"

class CMySaveFileDlg : public QFileDialog {
    Q_OBJECT
public:
    // The module's save formats for a pixel type, NUL-separated pairs.
    using FormatSource = std::function<std::string(int pixelType)>;

    CMySaveFileDlg(const std::string& fileName, QWidget* parent, FormatSource formats = {});

    void SetPixelType(int pixelType) { m_pixelType = pixelType; }
    void SetUseModuleFormats(bool use) { m_useModuleFormats = use ? 1 : 0; }

    // 1 (IDOK) or 2 (IDCANCEL).
    int DoModal();
    // DoModal's set-up without running.
    void Prepare();
    // The user picked the index-th type (1-based): the name follows it.
    void OnTypeChange(int index);
    std::string GetPathName() const;
    // The text of the file-name box.
    QString FileNameText() const;
    const std::vector<FileFilters::Pair>& Filter() const { return m_filter; }
    int FilterIndex() const;

    // ImExp_FillSaveFormatsInfoEx's list.
    static std::string ModuleSaveFormats(int pixelType);

private:
    void SetFileNameText(const QString& text);

    int m_reserved = 0;
    int m_useModuleFormats = 1;
    int m_pixelType = 0;
    std::string m_fileName;
    FormatSource m_formats;
    std::vector<FileFilters::Pair> m_filter;
    QStringList m_nameFilters;
};
