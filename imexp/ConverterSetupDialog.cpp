#include "ConverterSetupDialog.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include "ConverterInterface.h"
#include "ModuleStrings.h"

namespace formgate {

namespace {

QPushButton* Button(QWidget* parent, const char* text, int id) {
    auto* button = new QPushButton(text, parent);
    button->setObjectName(QString::number(id));
    return button;
}

}  // namespace

CConverterSetupDialog::CConverterSetupDialog(QWidget* parent, ConverterSetupModel& model)
    : QDialog(parent), model_(model) {
    setWindowTitle(ModuleString(IDS_CONVERTER_SETUP_TITLE));
    list_ = new QListWidget(this);
    list_->setObjectName("110");
    list_->setMinimumSize(260, 160);
    install_ = Button(this, "&Install...", 111);
    remove_ = Button(this, "&Remove", 112);
    setup_ = Button(this, "&Setup...", 113);
    about_ = Button(this, "&About...", 114);
    path_ = new QLineEdit(this);
    path_->setObjectName("115");
    path_->setReadOnly(true);
    path_->setFrame(false);
    QPalette flat = path_->palette();
    flat.setColor(QPalette::Base, Qt::transparent);
    path_->setPalette(flat);
    path_->setMinimumWidth(360);
    kind_ = new QLabel(this);
    kind_->setObjectName("104");

    auto* side = new QVBoxLayout;
    for (QPushButton* button : {install_, remove_, setup_, about_})
        side->addWidget(button);
    side->addStretch();
    auto* top = new QHBoxLayout;
    top->addWidget(list_, 1);
    top->addLayout(side);
    auto* details = new QGridLayout;
    details->addWidget(new QLabel("File :", this), 0, 0);
    details->addWidget(path_, 0, 1);
    details->addWidget(new QLabel("Type :", this), 1, 0);
    details->addWidget(kind_, 1, 1);
    details->setColumnStretch(1, 1);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addLayout(details);
    layout->addWidget(buttons);

    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(list_, &QListWidget::currentRowChanged, this, [this] { OnSelection(); });
    connect(install_, &QPushButton::clicked, this, [this] { OnInstall(); });
    connect(remove_, &QPushButton::clicked, this, [this] { OnRemove(); });
    connect(setup_, &QPushButton::clicked, this, [this] { OnSetup(); });
    connect(about_, &QPushButton::clicked, this, [this] { OnAbout(); });
    Fill(0);
}

void CConverterSetupDialog::Fill(int select) {
    list_->blockSignals(true);
    list_->clear();
    for (int i = 0; i < model_.Count(); ++i)
        list_->addItem(QString::fromStdString(model_.Name(i)));
    // The empty last entry: installing there appends.
    list_->addItem(QString());
    list_->blockSignals(false);
    list_->setCurrentRow(std::clamp(select, 0, list_->count() - 1));
    OnSelection();
}

int CConverterSetupDialog::Selected() const {
    return list_->currentRow();
}

void CConverterSetupDialog::OnSelection() {
    const int row = Selected();
    const bool converter = row >= 0 && row < model_.Count();
    const std::uint32_t flags = converter ? model_.Flags(row) : 0;
    path_->setText(converter ? QString::fromStdString(model_.Path(row)) : QString());
    path_->setCursorPosition(static_cast<int>(path_->text().size()));
    kind_->setText(converter ? QString::fromStdString(model_.Kind(row)) : QString());
    remove_->setEnabled(converter);
    setup_->setEnabled(converter && (flags & ImExp::FlagSetup));
    about_->setEnabled(converter && (flags & ImExp::FlagAbout));
}

void CConverterSetupDialog::OnInstall() {
    QFileDialog dialog(this);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilters({QString(ModuleString(IDS_LIBRARIES_FILTER)) + " (*.so)",
                           QString(ModuleString(IDS_ALL_GRAPHIC_FILES)) + " (*)"});
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    InstallPath(dialog.selectedFiles().front());
}

void CConverterSetupDialog::InstallPath(const QString& path) {
    const int position = std::max(Selected(), 0);
    const std::string warning = model_.Install(position, path.toStdString(), this);
    if (!warning.empty()) {
        QMessageBox::warning(this, QString(), QString::fromStdString(warning));
        return;
    }
    Fill(position);
}

void CConverterSetupDialog::OnRemove() {
    const int row = Selected();
    if (row < 0 || row >= model_.Count())
        return;
    model_.Remove(row);
    Fill(row);
}

void CConverterSetupDialog::OnSetup() {
    const int row = Selected();
    if (row < 0 || row >= model_.Count())
        return;
    model_.Setup(row, this);
    Fill(row);
}

void CConverterSetupDialog::OnAbout() {
    const int row = Selected();
    if (row >= 0 && row < model_.Count())
        model_.About(row, this);
}

}  // namespace formgate
