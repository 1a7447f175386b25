#include "CDlgPrompts.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include "AppSettings.h"
#include "DocText.h"
#include "StringTable.h"

QString AppCaption() {
    return QStringLiteral("ORVEX Horizel");
}

CDlgPromptBase::CDlgPromptBase(QWidget* parent, const QString& yesText, const QString& noText)
    : QDialog(parent) {
    setWindowTitle(AppCaption());
    // No Close button: the prompt is answered with one of its buttons.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setModal(true);

    auto* icon = new QLabel(this);
    icon->setObjectName("1039");
    const int side = style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, this);
    icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxWarning, nullptr, this).pixmap(side, side));
    icon->setAlignment(Qt::AlignTop);

    m_text = new QLabel(this);
    m_text->setObjectName("1004");
    m_text->setWordWrap(false);
    m_text->setTextFormat(Qt::PlainText);

    m_yes = new QPushButton(yesText, this);
    m_yes->setObjectName("6");
    m_yes->setDefault(true);
    m_no = new QPushButton(noText, this);
    m_no->setObjectName("7");
    connect(m_yes, &QPushButton::clicked, this, [this] {
        OnButton(kIdYes);
        done(kIdYes);
    });
    connect(m_no, &QPushButton::clicked, this, [this] {
        OnButton(kIdNo);
        done(kIdNo);
    });

    auto* top = new QHBoxLayout;
    top->addWidget(icon);
    top->addWidget(m_text, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_yes);
    buttons->addWidget(m_no);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addLayout(buttons);
}

void CDlgPromptBase::SetMessage(const QString& text) {
    m_text->setText(text);
}

QString CDlgPromptBase::Message() const {
    return m_text->text();
}

CDlgPromptAcceptPanorama::CDlgPromptAcceptPanorama(QWidget* parent, int unmatched, int total)
    : CDlgPromptBase(parent, QStringLiteral("&Ignore"), QStringLiteral("&Switch to manual mode")) {
    SetMessage(
        QString::fromStdString(DocText::Load(256, {std::to_string(unmatched), std::to_string(total)})));
}

void CDlgPromptAcceptPanorama::reject() {
    done(kIdYes);
}

CDlgWarningCyclorama::CDlgWarningCyclorama(QWidget* parent)
    : CDlgPromptBase(parent, QStringLiteral("&Accept Panorama"), QStringLiteral("&Switch to manual mode")) {
    SetMessage(QString::fromUtf8(Res::LoadStr(302)));
}

void CDlgWarningCyclorama::reject() {
    done(kIdYes);
}

CDlgAboutToChangeMessage::CDlgAboutToChangeMessage(QWidget* parent)
    : CDlgPromptBase(parent, QStringLiteral("&Yes"), QStringLiteral("&No")) {
    m_dontShow = new QCheckBox(QStringLiteral("Don't show this message more"), this);
    m_dontShow->setObjectName("1030");
    // Between the text and the buttons.
    static_cast<QVBoxLayout*>(layout())->insertWidget(1, m_dontShow);
    SetMessage(QString::fromUtf8(Res::LoadStr(219)));
}

void CDlgAboutToChangeMessage::reject() {
    done(kIdCancel);
}

void CDlgAboutToChangeMessage::OnButton(int /*result*/) {
    if (m_dontShow->isChecked())
        ProfileKeys::Write(ProfileKeys::kDontShowAboutPhotoList, 1);
}
