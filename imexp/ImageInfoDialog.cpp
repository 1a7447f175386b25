#include "ImageInfoDialog.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include "ModuleStrings.h"

namespace formgate {

namespace {

QLabel* Value(QWidget* parent, int id, const std::string& text) {
    auto* label = new QLabel(QString::fromStdString(text), parent);
    label->setObjectName(QString::number(id));
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

}  // namespace

CImageInfoDialog::CImageInfoDialog(QWidget* parent, const ImageInfoTexts& texts,
                                   std::function<void(void* dialog)> details)
    : QDialog(parent), showDetails_(std::move(details)) {
    setWindowTitle(ModuleString(IDS_IMAGE_INFO_TITLE));
    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(12);
    struct Row {
        const char* label;
        int labelId;
        int id;
        const std::string& text;
    };
    const Row rows[] = {
        {"File name :", -1, 100, texts.fileName},
        {"Format :", -1, 101, texts.format},
        {ModuleString(IDS_IMAGES_LABEL), 109, 102, texts.image},
        {"Size :", -1, 103, texts.size},
        {"Color type :", -1, 104, texts.colourType},
        {"Colors :", -1, 105, texts.colours},
        {"Resolution :", -1, 106, texts.resolution},
        {"Compression :", -1, 107, texts.compression},
    };
    int line = 0;
    for (const Row& row : rows) {
        auto* label = new QLabel(row.label, this);
        if (row.labelId >= 0)
            label->setObjectName(QString::number(row.labelId));
        QLabel* value = Value(this, row.id, row.text);
        grid->addWidget(label, line, 0);
        grid->addWidget(value, line, 1);
        if (row.id == 102 && !texts.showImageCount) {
            label->hide();
            value->hide();
        }
        ++line;
    }
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    details_ = buttons->addButton(ModuleString(IDS_DETAILS_BUTTON), QDialogButtonBox::ActionRole);
    details_->setObjectName("116");
    details_->setEnabled(texts.detailsEnabled);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(details_, &QPushButton::clicked, this, [this] {
        if (showDetails_)
            showDetails_(this);
    });
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

CSelectImageDialog::CSelectImageDialog(QWidget* parent, const std::string& fileTitle, int count,
                                       std::function<int(const std::string&)> isValid)
    : QDialog(parent), isValid_(std::move(isValid)) {
    setWindowTitle(ModuleString(IDS_SELECT_IMAGE_TITLE));
    auto* grid = new QGridLayout;
    grid->addWidget(new QLabel("File name :", this), 0, 0);
    grid->addWidget(Value(this, 100, fileTitle), 0, 1);
    grid->addWidget(new QLabel(ModuleString(IDS_IMAGES_LABEL), this), 1, 0);
    grid->addWidget(Value(this, 109, std::to_string(count)), 1, 1);
    grid->addWidget(new QLabel("Image &number :", this), 2, 0);
    number_ = new QLineEdit("1", this);
    number_->setObjectName("102");
    number_->setMaxLength(5);
    number_->selectAll();
    static_cast<QLabel*>(grid->itemAtPosition(2, 0)->widget())->setBuddy(number_);
    grid->addWidget(number_, 2, 1);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    number_->setFocus();
}

void CSelectImageDialog::accept() {
    const int index = isValid_ ? isValid_(number_->text().toStdString()) : -1;
    if (index < 0) {
        QMessageBox::warning(this, QString(), ModuleString(IDS_ILLEGAL_NUMBER));
        number_->setFocus();
        number_->selectAll();
        return;
    }
    chosen_ = index;
    QDialog::accept();
}

}  // namespace formgate
