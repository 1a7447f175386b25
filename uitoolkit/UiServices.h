#pragma once
// Services the toolkit's windows call that tests replace: the message box and
// the opening of a web page.

#include <QString>
#include <functional>

class QWidget;

namespace UiServices {

// What a message tells, which chooses its icon.
enum class MessageKind { Information, Warning, Error };

// Shows a message with an OK button. Replaced in tests (a modal box would
// block an offscreen run).
void ShowMessage(QWidget* parent, const QString& text, const QString& caption = {},
                 MessageKind kind = MessageKind::Warning);
// The message box itself, made as every box of the program is: the kind's
// icon, plain text, and wide enough that the window's title is not cut.
void RunMessageBox(QWidget* parent, const QString& text, const QString& caption, MessageKind kind);
using MessageHandler = std::function<void(QWidget*, const QString&, const QString&)>;
void SetMessageHandler(MessageHandler handler);

// Opens an http or https address in the user's browser; others are ignored.
bool OpenUrl(const QString& url);
using UrlHandler = std::function<void(const QString&)>;
void SetUrlHandler(UrlHandler handler);

}  // namespace UiServices
