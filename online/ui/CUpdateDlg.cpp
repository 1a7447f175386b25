#include "CUpdateDlg.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "OnlineText.h"
#include "UiServices.h"

CUpdateDlg::CUpdateDlg(const CUpdateCheck::Result& result, QWidget* parent)
    : QDialog(parent), m_result(result) {
    setObjectName(QStringLiteral("329"));
    setWindowTitle(QStringLiteral("Updates"));
    m_text = new QLabel(QStringLiteral("Updates are available for your version of software."), this);
    m_text->setObjectName(QString::number(kText));
    if (result.status == 2)
        m_text->setText(QString::fromStdString(OnlineText::Load(OnlineText::kCriticalUpdates)));
    m_info = new QPlainTextEdit(this);
    m_info->setObjectName(QString::number(kInfo));
    m_info->setReadOnly(true);
    m_info->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    m_info->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    const std::string& info = !result.message250.empty()  ? result.message250
                              : !result.message80.empty() ? result.message80
                                                          : result.message40;
    m_info->setPlainText(QString::fromStdString(info));
    m_moreInfo = new QPushButton(QStringLiteral("More info site"), this);
    m_moreInfo->setObjectName(QString::number(kMoreInfo));
    m_moreInfo->setVisible(!result.moreinfourl.empty());
    auto* get = new QPushButton(QStringLiteral("Get updates"), this);
    get->setObjectName(QString::number(kGetUpdates));
    get->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName(QString::number(kCancel));

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_moreInfo);
    buttons->addStretch(1);
    buttons->addWidget(get);
    buttons->addWidget(cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_text);
    layout->addWidget(new QLabel(QStringLiteral("Info:"), this));
    layout->addWidget(m_info, 1);
    layout->addLayout(buttons);
    resize(420, 240);

    connect(m_moreInfo, &QPushButton::clicked, this, [this] {
        if (!m_result.moreinfourl.empty())
            UiServices::OpenUrl(QString::fromStdString(m_result.moreinfourl));
    });
    connect(get, &QPushButton::clicked, this, &CUpdateDlg::accept);
    connect(cancel, &QPushButton::clicked, this, &CUpdateDlg::reject);
}

void CUpdateDlg::accept() {
    if (!m_result.updateurl.empty())
        UiServices::OpenUrl(QString::fromStdString(m_result.updateurl));
    QDialog::accept();
}
