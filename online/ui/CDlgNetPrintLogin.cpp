#include "CDlgNetPrintLogin.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "OnlineText.h"
#include "UiServices.h"

namespace NetPrint::PhotoUpload {

CDlgNetPrintLogin::CDlgNetPrintLogin(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("107"));
    setWindowTitle(QStringLiteral("NetPrint - please enter your login and password"));
    // The table's text opens the sentence; what uploading requires follows.
    auto* requiresLabel = new QLabel(
        QString::fromStdString(OnlineText::Load(OnlineText::kUploadingRequires)) +
            QStringLiteral(" a NetPrint account: enter its login and password, or press Register to open one."),
        this);
    requiresLabel->setObjectName(QString::number(kRequires));
    requiresLabel->setWordWrap(true);
    m_login = new QLineEdit(this);
    m_login->setObjectName(QString::number(kLogin));
    m_password = new QLineEdit(this);
    m_password->setObjectName(QString::number(kPassword));
    m_password->setEchoMode(QLineEdit::Password);
    auto* registerButton = new QPushButton(QStringLiteral("Register"), this);
    registerButton->setObjectName(QString::number(kRegister));
    m_ok = new QPushButton(QStringLiteral("OK"), this);
    m_ok->setObjectName(QString::number(kOk));
    m_ok->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName(QString::number(kCancel));

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Login:"), m_login);
    form->addRow(QStringLiteral("Password:"), m_password);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(registerButton);
    buttons->addStretch(1);
    buttons->addWidget(m_ok);
    buttons->addWidget(cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(requiresLabel);
    layout->addLayout(form);
    layout->addLayout(buttons);
    setMinimumWidth(380);

    connect(m_login, &QLineEdit::textChanged, this, [this](const QString& text) {
        m_strLogin = text.toStdString();
        UpdateOk();
    });
    connect(m_password, &QLineEdit::textChanged, this, [this](const QString& text) {
        m_strPassword = text.toStdString();
        UpdateOk();
    });
    connect(registerButton, &QPushButton::clicked, this,
            [] { UiServices::OpenUrl(QString::fromLatin1(kNetPrintSiteUrl)); });
    connect(m_ok, &QPushButton::clicked, this, &CDlgNetPrintLogin::accept);
    connect(cancel, &QPushButton::clicked, this, &CDlgNetPrintLogin::reject);
}

int CDlgNetPrintLogin::exec() {
    OnInitDialog();
    return QDialog::exec();
}

void CDlgNetPrintLogin::OnInitDialog() {
    // The edits' signals copy into the members, so take the values first.
    const std::string login = m_strLogin, password = m_strPassword;
    m_login->setText(QString::fromStdString(login));
    m_password->setText(QString::fromStdString(password));
    m_strLogin = login;
    m_strPassword = password;
    UpdateOk();
}

void CDlgNetPrintLogin::UpdateOk() {
    m_ok->setEnabled(!m_strLogin.empty() && !m_strPassword.empty());
}

void CDlgNetPrintLogin::accept() {
    m_strLogin = m_login->text().toStdString();
    m_strPassword = m_password->text().toStdString();
    QDialog::accept();
}

}  // namespace NetPrint::PhotoUpload
