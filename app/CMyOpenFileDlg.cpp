#include "CMyOpenFileDlg.h"

#include <QFile>
#include <QFileInfo>

#include "AppSettings.h"
#include "Formgate.h"
#include "Profile.h"
#include "StringTable.h"

std::string ChosenFolder(const QFileDialog& dialog) {
    const QStringList files = dialog.selectedFiles();
    const QString folder =
        files.isEmpty() ? dialog.directory().absolutePath() : QFileInfo(files.first()).absolutePath();
    return QFile::encodeName(folder).toStdString();
}

CMyOpenFileDlg::CMyOpenFileDlg(QWidget* parent, FormatSource formats)
    : QFileDialog(parent), m_formats(formats ? std::move(formats) : FormatSource(&ModuleReadFormats)) {
    setObjectName("CMyOpenFileDlg");
    // The non-native dialog: its filters and selection behave alike everywhere.
    setOption(QFileDialog::DontUseNativeDialog, true);
    setAcceptMode(QFileDialog::AcceptOpen);
    setFileMode(QFileDialog::ExistingFiles);
}

std::string CMyOpenFileDlg::ModuleReadFormats() {
    const int size = ImExp_FillReadFormatsInfo(nullptr, 0);
    if (size <= 0)
        return {};
    std::string buffer(static_cast<std::size_t>(size) + 2, '\0');
    ImExp_FillReadFormatsInfo(buffer.data(), static_cast<unsigned>(size));
    return buffer;
}

void CMyOpenFileDlg::Prepare() {
    const std::string list = m_formats();
    m_filter = FileFilters::BuildOpenFilter(FileFilters::ParseFormatList(list.data(), list.size()),
                                            Res::LoadStr(186));
    m_nameFilters.clear();
    for (const FileFilters::Pair& pair : m_filter)
        m_nameFilters << QString::fromStdString(FileFilters::ToNameFilter(pair));
    if (!m_nameFilters.isEmpty()) {
        setNameFilters(m_nameFilters);
        selectNameFilter(m_nameFilters.at(FileFilters::PreselectJpegIndex(m_filter) - 1));
    }
    const std::string folder = ProfileKeys::Read(ProfileKeys::kDefaultOpenDir);
    if (!folder.empty())
        setDirectory(QFile::decodeName(folder.c_str()));
}

int CMyOpenFileDlg::FilterIndex() const {
    const qsizetype index = m_nameFilters.indexOf(selectedNameFilter());
    return index < 0 ? 1 : static_cast<int>(index) + 1;
}

int CMyOpenFileDlg::DoModal() {
    Prepare();
    const int result = exec() == QDialog::Accepted ? 1 : 2;
    if (result == 1)
        StoreChoice();
    return result;
}

void CMyOpenFileDlg::StoreChoice() {
    AppProfile::WriteProfileInt(ProfileKeys::kDefaultOpenFormatSection, ProfileKeys::kDefaultOpenFormatKey,
                                FilterIndex());
    ProfileKeys::Write(ProfileKeys::kDefaultOpenDir, ChosenFolder(*this));
}

std::vector<std::string> CMyOpenFileDlg::GetSelectedPaths() const {
    std::vector<std::string> paths;
    for (const QString& file : selectedFiles())
        paths.push_back(QFile::encodeName(file).toStdString());
    return paths;
}
