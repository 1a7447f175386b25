#include "CJFIFDlg.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

#include "BrowserHost.h"

CJFIFDlg::CJFIFDlg(const std::string& path, QWidget* parent) : QDialog(parent), m_path(path) {
    setWindowTitle(QStringLiteral("Image info"));
    resize(440, 480);

    auto* placeholder = new QWidget(this);
    placeholder->setObjectName(QString::number(IDC_PLACEHOLDER));
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("1"));
    ok->setDefault(true);
    auto* copy = new QPushButton(QStringLiteral("&Copy"), this);
    copy->setObjectName(QString::number(IDC_COPY));
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(copy, &QPushButton::clicked, this, &CJFIFDlg::OnCopy);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(copy);
    buttons->addStretch(1);
    buttons->addWidget(ok);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(7, 7, 7, 7);
    layout->addWidget(placeholder, 1);
    layout->addLayout(buttons);
    layout->activate();

    // The property list takes the placeholder's place and rectangle.
    m_props.setParent(this, Qt::Widget);
    m_props.m_bEmbedded = true;
    m_props.setGeometry(placeholder->geometry());
    m_props.OnInitDialog();
    if (!m_path.empty())
        m_props.FillFromFiles({m_path}, false);
    delete layout->replaceWidget(placeholder, &m_props);  // the placeholder's old layout item
    placeholder->hide();
    m_props.show();
}

void CJFIFDlg::OnCopy() {
    m_props.CopyToClipboard();
}

void ShowImageInfoDialog(const std::string& path) {
    CJFIFDlg dialog(path, BrowserHost().MainWindow());
    dialog.exec();
}
