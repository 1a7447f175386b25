#include "UiServices.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFontMetrics>
#include <QGridLayout>
#include <QMessageBox>
#include <QSpacerItem>
#include <QUrl>

namespace UiServices {

namespace {
constexpr int kTitleBarAllowance = 160;

MessageHandler& Messages() {
    static MessageHandler handler;
    return handler;
}
UrlHandler& Urls() {
    static UrlHandler handler;
    return handler;
}
}  // namespace

void SetMessageHandler(MessageHandler handler) {
    Messages() = std::move(handler);
}
void SetUrlHandler(UrlHandler handler) {
    Urls() = std::move(handler);
}

void ShowMessage(QWidget* parent, const QString& text, const QString& caption, MessageKind kind) {
    if (Messages()) {
        Messages()(parent, text, caption);
        return;
    }
    RunMessageBox(parent, text, caption, kind);
}

void RunMessageBox(QWidget* parent, const QString& text, const QString& caption, MessageKind kind) {
    const QMessageBox::Icon icon = kind == MessageKind::Information ? QMessageBox::Information
                                   : kind == MessageKind::Error     ? QMessageBox::Critical
                                                                    : QMessageBox::Warning;
    QMessageBox box(icon, caption, text, QMessageBox::Ok, parent);
    box.setTextFormat(Qt::PlainText);
    // The window manager cuts a title that is wider than its window; the
    // title bar's buttons and borders take about as much again as a short
    // title, hence the allowance.
    const QString title = caption.isEmpty() ? QApplication::applicationDisplayName() : caption;
    const int titleWidth = QFontMetrics(QApplication::font("QMdiSubWindowTitleBar")).horizontalAdvance(title);
    if (auto* grid = qobject_cast<QGridLayout*>(box.layout()))
        grid->addItem(new QSpacerItem(titleWidth + kTitleBarAllowance, 0, QSizePolicy::Minimum, QSizePolicy::Fixed),
                      grid->rowCount(), 0, 1, grid->columnCount());
    box.exec();
}

bool OpenUrl(const QString& url) {
    const QUrl parsed(url, QUrl::StrictMode);
    const QString scheme = parsed.scheme().toLower();
    if (!parsed.isValid() || (scheme != "http" && scheme != "https"))
        return false;
    if (Urls())
        Urls()(url);
    else
        QDesktopServices::openUrl(parsed);
    return true;
}

}  // namespace UiServices
