#include "CAboutDlg.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include "DialogText.h"
#include "OvHorizelApp.h"
#include "ProductVersion.h"

namespace {

using DialogText::Named;
using DialogText::Str;

}  // namespace

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
    setObjectName(QString::number(kTemplateId));
    setWindowTitle(QStringLiteral("About"));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(18, 18, 18, 14);
    layout->setSpacing(16);

    auto* logo = new QLabel(this);
    QImage image;
    if (COvHorizelApp* app = COvHorizelApp::Instance())
        image = app->LoadSkinImage("MAIN", "LOGO_TAB");
    if (!image.isNull())
        logo->setPixmap(QPixmap::fromImage(image.scaledToHeight(48, Qt::SmoothTransformation)));
    else
        logo->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxInformation).pixmap(48, 48));
    logo->setAlignment(Qt::AlignTop);
    layout->addWidget(logo);

    auto* text = new QVBoxLayout;
    auto* name = new QLabel(Str(128).section('\n', 0, 0), this);
    QFont bold = name->font();
    bold.setBold(true);
    bold.setPointSizeF(bold.pointSizeF() * 1.3);
    name->setFont(bold);
    text->addWidget(name);
    m_version = Named(new QLabel(QString::fromLatin1(kVersionTemplate), this), kVersion);
    text->addWidget(m_version);
    text->addWidget(new QLabel(QStringLiteral("Panorama stitching for overlapping photos.\n"
                                              "Image import and export by Formgate."),
                               this));
    text->addStretch(1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    auto* ok = Named(new QPushButton(QStringLiteral("OK"), this), kOk);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    buttons->addWidget(ok);
    text->addLayout(buttons);
    layout->addLayout(text, 1);
    OnInitDialog();
    setFixedSize(sizeHint().expandedTo(QSize(360, 0)));
}

void CAboutDlg::OnInitDialog() {
    m_version->setText(QString::fromStdString(
        ProductVersion::Fill(m_version->text().toStdString(), ProductVersion::Parts())));
}
