#include "ImExpFileDialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>

#include "BrowsePalette.h"
#include "ModuleStrings.h"

namespace formgate {

QString QtNameFilter(const FileDialogFilter& filter) {
    QStringList globs;
    for (const QString& pattern : QString::fromStdString(filter.patterns).split(';', Qt::SkipEmptyParts)) {
        // A pattern starts at its first '.'; whatever stands before it is skipped.
        const qsizetype dot = pattern.indexOf('.');
        globs << (dot < 0 ? pattern.trimmed() : "*" + pattern.mid(dot).trimmed());
    }
    if (globs.isEmpty())
        globs << "*";
    return QString::fromStdString(filter.description) + " (" + globs.join(' ') + ")";
}

CImExpFileDialog::CImExpFileDialog(QWidget* parent, const std::vector<FileDialogFilter>& filters,
                                   int initialFilter, const std::string& directory,
                                   const std::string& fileName)
    : QFileDialog(parent) {
    setOption(QFileDialog::DontUseNativeDialog);
    setOption(QFileDialog::HideNameFilterDetails);
    for (const FileDialogFilter& filter : filters)
        nameFilters_ << QtNameFilter(filter);
    setNameFilters(nameFilters_);
    if (initialFilter >= 0 && initialFilter < nameFilters_.size())
        selectNameFilter(nameFilters_[initialFilter]);
    const QString name = QString::fromStdString(fileName);
    if (name.contains('/')) {
        const QFileInfo info(name);
        setDirectory(info.absolutePath());
        if (!info.fileName().isEmpty())
            selectFile(info.fileName());
    } else {
        if (!directory.empty())
            setDirectory(QString::fromStdString(directory));
        if (!name.isEmpty())
            selectFile(name);
    }
}

int CImExpFileDialog::ChosenFilter() const {
    // By position: with the details hidden the selected filter reads back without its patterns.
    if (auto* types = findChild<QComboBox*>("fileTypeCombo"))
        return types->currentIndex();
    return static_cast<int>(nameFilters_.indexOf(selectedNameFilter()));
}

QLineEdit* CImExpFileDialog::FileNameEdit() const {
    return findChild<QLineEdit*>("fileNameEdit");
}

QString CImExpFileDialog::TypedPath() const {
    QLineEdit* edit = FileNameEdit();
    const QString text = edit ? edit->text() : QString();
    if (text.isEmpty())
        return {};
    return QFileInfo(text).isAbsolute() ? text : directory().absolutePath() + '/' + text;
}

CImExpOpenDialog::CImExpOpenDialog(QWidget* parent, const OpenDialogRequest& request)
    : CImExpFileDialog(parent, request.filters, request.initialFilter, request.directory, request.fileName),
      request_(request) {
    setAcceptMode(QFileDialog::AcceptOpen);
    setFileMode(QFileDialog::ExistingFile);
    if (!request.extraButtons)
        return;
    auto* buttons = findChild<QDialogButtonBox*>("buttonBox");
    if (!buttons)
        return;
    info_ = new QPushButton(ModuleString(IDS_INFO_BUTTON), this);
    info_->setObjectName("15005");
    browse_ = new QPushButton(ModuleString(IDS_BROWSE_BUTTON), this);
    browse_->setObjectName("15006");
    buttons->addButton(info_, QDialogButtonBox::ActionRole);
    buttons->addButton(browse_, QDialogButtonBox::ActionRole);
    connect(info_, &QPushButton::clicked, this, [this] { OnInfo(); });
    connect(browse_, &QPushButton::clicked, this, [this] { OnBrowse(); });
    browse_->setEnabled(static_cast<bool>(request.browse));
    // The palette follows the folder, the type and the selection.
    connect(this, &QFileDialog::directoryEntered, this, [this] {
        if (palette_ && palette_->isVisible())
            palette_->Fill();
    });
    connect(this, &QFileDialog::filterSelected, this, [this] {
        if (palette_ && palette_->isVisible())
            palette_->Fill();
    });
    connect(this, &QFileDialog::currentChanged, this, [this] {
        if (palette_ && palette_->isVisible())
            palette_->FollowSelection();
    });
}

CBrowsePalette* CImExpOpenDialog::Palette() const {
    return palette_;
}

void CImExpOpenDialog::OnBrowse() {
    if (palette_ && palette_->isVisible()) {
        palette_->Refresh();
        return;
    }
    if (!request_.browse)
        return;
    palette_ = new CBrowsePalette(this, browse_, request_.browse());
    palette_->show();
    palette_->Fill();
}

void CImExpOpenDialog::OnInfo() {
    QLineEdit* edit = FileNameEdit();
    const QString text = edit ? edit->text() : QString();
    if (text.isEmpty() || text.endsWith('/') || text.contains('*') || text.contains('?')) {
        accept();
        return;
    }
    const QString path = TypedPath();
    if (QFileInfo(path).isDir()) {
        setDirectory(path);
        if (edit)
            edit->clear();
        return;
    }
    // The name as the user gave it: on a case-sensitive file system another
    // spelling is another file.
    if (request_.showInfo)
        request_.showInfo(this, path.toStdString());
}

CImExpSaveDialog::CImExpSaveDialog(QWidget* parent, const SaveDialogRequest& request)
    : CImExpFileDialog(parent, request.filters, request.initialFilter, request.directory, request.fileName),
      request_(request) {
    setAcceptMode(QFileDialog::AcceptSave);
    setFileMode(QFileDialog::AnyFile);
    connect(this, &QFileDialog::filterSelected, this, [this] { OnTypeChanged(); });
}

void CImExpSaveDialog::OnTypeChanged() {
    QLineEdit* edit = FileNameEdit();
    if (!edit)
        return;
    const QString text = edit->text();
    const qsizetype dot = text.lastIndexOf('.');
    if (dot > text.lastIndexOf('/'))
        edit->setText(text.left(dot));
}

void CImExpSaveDialog::accept() {
    const QString typed = TypedPath();
    if (!typed.isEmpty() && !QFileInfo(typed).isDir() && request_.finalName) {
        const QString final = QString::fromStdString(request_.finalName(typed.toStdString(), ChosenFilter()));
        if (final != typed) {
            if (QLineEdit* edit = FileNameEdit())
                edit->setText(final);
        }
    }
    QFileDialog::accept();
}

void CImExpSaveDialog::showEvent(QShowEvent* event) {
    QFileDialog::showEvent(event);
    if (centred_)
        return;
    centred_ = true;
    if (const QScreen* screen = this->screen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
}

}  // namespace formgate
