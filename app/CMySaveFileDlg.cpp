#include "CMySaveFileDlg.h"

#include <QFile>
#include <QLineEdit>

#include "AppSettings.h"
#include "CMyOpenFileDlg.h"
#include "ImageFileBridge.h"
#include "SaveFileChoice.h"

CMySaveFileDlg::CMySaveFileDlg(const std::string& fileName, QWidget* parent, FormatSource formats)
    : QFileDialog(parent),
      m_fileName(fileName),
      m_formats(formats ? std::move(formats) : FormatSource(&ModuleSaveFormats)) {
    setObjectName("CMySaveFileDlg");
    // The non-native dialog: its filters and file-name box can be driven.
    setOption(QFileDialog::DontUseNativeDialog, true);
    setAcceptMode(QFileDialog::AcceptSave);
    setFileMode(QFileDialog::AnyFile);
    connect(this, &QFileDialog::filterSelected, this, [this](const QString& name) {
        const qsizetype index = m_nameFilters.indexOf(name);
        if (index >= 0)
            OnTypeChange(static_cast<int>(index) + 1);
    });
}

std::string CMySaveFileDlg::ModuleSaveFormats(int pixelType) {
    const int size = FillSaveFormatsInfoEx(nullptr, 0, pixelType);
    if (size <= 0)
        return {};
    std::string buffer(static_cast<std::size_t>(size) + 2, '\0');
    FillSaveFormatsInfoEx(buffer.data(), static_cast<unsigned>(size), pixelType);
    return buffer;
}

void CMySaveFileDlg::Prepare() {
    m_filter.clear();
    if (m_useModuleFormats && m_pixelType != 0) {
        const std::string list = m_formats(m_pixelType);
        m_filter = FileFilters::ParseFormatList(list.data(), list.size());
    }
    m_nameFilters.clear();
    for (const FileFilters::Pair& pair : m_filter)
        m_nameFilters << QString::fromStdString(SaveFileChoice::NameFilter(pair));
    const SaveFileChoice::Preselection choice = SaveFileChoice::Preselect(m_filter, m_fileName);
    const std::string folder = ProfileKeys::Read(ProfileKeys::kDefaultSaveDir);
    if (!folder.empty())
        setDirectory(QFile::decodeName(folder.c_str()));
    if (!m_nameFilters.isEmpty()) {
        setNameFilters(m_nameFilters);
        selectNameFilter(m_nameFilters.at(choice.filterIndex - 1));
    }
    setDefaultSuffix(QString::fromStdString(choice.defaultExt));
    const QString name = QFile::decodeName(choice.fileName.c_str());
    if (name.contains('/'))
        selectFile(name);
    else
        SetFileNameText(name);
}

int CMySaveFileDlg::FilterIndex() const {
    const qsizetype index = m_nameFilters.indexOf(selectedNameFilter());
    return index < 0 ? 1 : static_cast<int>(index) + 1;
}

QString CMySaveFileDlg::FileNameText() const {
    if (auto* edit = findChild<QLineEdit*>("fileNameEdit"))
        return edit->text();
    return {};
}

void CMySaveFileDlg::SetFileNameText(const QString& text) {
    if (auto* edit = findChild<QLineEdit*>("fileNameEdit"))
        edit->setText(text);
    else
        selectFile(text);
}

void CMySaveFileDlg::OnTypeChange(int index) {
    const std::string extension = SaveFileChoice::ExtensionOfType(m_filter, index);
    setDefaultSuffix(QString::fromStdString(extension));
    const std::string current = QFile::encodeName(FileNameText()).toStdString();
    if (current.empty())
        return;
    SetFileNameText(QFile::decodeName(SaveFileChoice::ReplaceExtension(current, extension).c_str()));
}

std::string CMySaveFileDlg::GetPathName() const {
    const QStringList files = selectedFiles();
    return files.isEmpty() ? std::string() : QFile::encodeName(files.first()).toStdString();
}

int CMySaveFileDlg::DoModal() {
    Prepare();
    const int result = exec() == QDialog::Accepted ? 1 : 2;
    if (result == 1)
        ProfileKeys::Write(ProfileKeys::kDefaultSaveDir, ChosenFolder(*this));
    return result;
}
