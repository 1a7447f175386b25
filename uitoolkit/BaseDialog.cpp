#include "BaseDialog.h"

#include <QAbstractItemView>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QPlainTextEdit>
#include <QTextEdit>
#include <QToolTip>

#include "SkinAccess.h"
#include "StringTable.h"

namespace {

constexpr int kApplicationTitleId = 128;

int ControlId(const QObject* o) {
    bool ok = false;
    const int id = o->objectName().toInt(&ok);
    return ok ? id : -1;
}

}  // namespace

CBaseDialog::CBaseDialog(int templateId, QWidget* parent)
    : QDialog(parent), templateId_(templateId), background_(Skin::DialogBackground()) {
    // Statics on the skin colour, edit and list boxes white with black text;
    // a disabled control greys its text and its box, so that a control which
    // refuses clicks also looks so.
    QPalette pal = palette();
    pal.setColor(QPalette::Window, background_);
    pal.setColor(QPalette::Base, Qt::white);
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        pal.setColor(group, QPalette::WindowText, Qt::black);
        pal.setColor(group, QPalette::Text, Qt::black);
    }
    const QColor grey(128, 128, 128);
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        pal.setColor(QPalette::Disabled, role, grey);
    pal.setColor(QPalette::Disabled, QPalette::Base, background_);
    setPalette(pal);
    setAutoFillBackground(false);
}

int CBaseDialog::GetTooltipStringId(int controlId) const {
    return controlId > 0 && *Res::LoadStr(unsigned(controlId)) ? controlId : kApplicationTitleId;
}

QString CBaseDialog::TooltipText(int controlId) const {
    const int stringId = GetTooltipStringId(controlId);
    if (stringId <= 0)
        return {};
    QString text = QString::fromUtf8(Res::LoadStr(unsigned(stringId)));
    text = text.section('\n', 0, 0);
    if (text.size() > kTooltipMaxChars)
        text.truncate(kTooltipMaxChars);
    return text;
}

void CBaseDialog::OnInitDialog() {}

void CBaseDialog::showEvent(QShowEvent* event) {
    if (!initialised_) {
        initialised_ = true;
        OnInitDialog();
    }
    QDialog::showEvent(event);
}

void CBaseDialog::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_Escape:
            event->accept();
            return;
        default:
            QDialog::keyPressEvent(event);
    }
}

void CBaseDialog::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect().adjusted(-2, -2, 2, 2), background_);
}

bool CBaseDialog::event(QEvent* e) {
    if (e->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(e);
        QWidget* child = childAt(help->pos());
        while (child && child != this && ControlId(child) < 0)
            child = child->parentWidget();
        if (child && child != this) {
            const QString text = TooltipText(ControlId(child));
            if (!text.isEmpty()) {
                // Rich text so that long tips wrap at the dialog's width limit.
                QToolTip::showText(help->globalPos(),
                                   QStringLiteral("<div style='max-width:%1px'>%2</div>")
                                       .arg(kTooltipWrapWidth)
                                       .arg(text.toHtmlEscaped()),
                                   child);
                return true;
            }
        }
        QToolTip::hideText();
        e->ignore();
        return true;
    }
    return QDialog::event(e);
}

CMyStatic::CMyStatic(QWidget* parent) : QWidget(parent) {
    lower();
}

void CMyStatic::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect().adjusted(-1, -1, 1, 1), Skin::DialogBackground());
}

CCheckDlg::CCheckDlg(QWidget* parent) : QDialog(parent) {
    setObjectName(QString::number(kTemplateId));
}

QRect CCheckDlg::MapDialogRect(const QRect& units) const {
    const QFontMetrics fm(font());
    const int avgWidth = qMax(
        1, fm.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")) / 52);
    const int height = qMax(1, fm.height());
    auto x = [&](int v) { return v * avgWidth / 4; };
    auto y = [&](int v) { return v * height / 8; };
    return QRect(x(units.left()), y(units.top()), x(units.width()), y(units.height()));
}
