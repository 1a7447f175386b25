#include "UiServices.h"

#include <QDesktopServices>
#include <QMessageBox>
#include <QUrl>

namespace UiServices {

namespace {
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

void ShowMessage(QWidget* parent, const QString& text, const QString& caption) {
    if (Messages()) {
        Messages()(parent, text, caption);
        return;
    }
    QMessageBox box(QMessageBox::Warning, caption, text, QMessageBox::Ok, parent);
    box.setTextFormat(Qt::PlainText);
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
