#pragma once
// What the dialog tests share: the module folder of ReadTestSupport.h served
// through the Qt user interface, an owner window, and a way to act on a modal
// dialog once the code under test has opened it.

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>

#include "IniFile.h"
#include "QtUiHost.h"
#include "ReadTestSupport.h"
#include "Screenshot.h"
#include "Utf16.h"

namespace FormgateTest {

// Runs act on the first modal dialog of type T that shows (from the event
// loop of the code that opened it). A dialog that never shows fails the test;
// whatever modal dialog is up by then is closed so the test cannot hang.
inline std::vector<QPointer<QTimer>>& PendingWaits() {
    static std::vector<QPointer<QTimer>> waits;
    return waits;
}

// Drops every wait whose dialog has not shown (for checks that none shows).
inline void CancelPendingWaits() {
    for (QPointer<QTimer>& timer : PendingWaits())
        delete timer.data();
    PendingWaits().clear();
}

template <class T>
void WhenShown(std::function<void(T*)> act) {
    auto* timer = new QTimer;
    PendingWaits().push_back(timer);
    auto clock = std::make_shared<QElapsedTimer>();
    clock->start();
    QObject::connect(timer, &QTimer::timeout, [timer, clock, act] {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* dialog = dynamic_cast<T*>(modal)) {
            timer->stop();
            timer->deleteLater();
            // Acted on from a posted event, not from inside the timer: timers
            // do not fire in event loops nested in a timer's own handler.
            QPointer<QWidget> guard(dialog);
            QMetaObject::invokeMethod(
                qApp,
                [guard, act] {
                    if (auto* shown = dynamic_cast<T*>(guard.data()))
                        act(shown);
                },
                Qt::QueuedConnection);
            return;
        }
        if (clock->elapsed() > 10000) {
            timer->stop();
            timer->deleteLater();
            ADD_FAILURE() << "the expected dialog did not show; up: "
                          << (modal ? modal->metaObject()->className() : "nothing") << " "
                          << (modal ? modal->windowTitle().toStdString() : "");
            if (auto* other = qobject_cast<QDialog*>(modal))
                other->reject();
        }
    });
    timer->start(5);
}

// Answers the next message box: remembers its caption, text and icon, then
// presses button (default: the box's default or escape button).
struct SeenMessage {
    QString caption, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    bool shown = false;
};

inline std::shared_ptr<SeenMessage> AnswerMessage(QMessageBox::StandardButton button = QMessageBox::NoButton,
                                                  const QString& screenshot = {}) {
    auto seen = std::make_shared<SeenMessage>();
    WhenShown<QMessageBox>([seen, button, screenshot](QMessageBox* box) {
        seen->caption = box->windowTitle();
        seen->text = box->text();
        seen->icon = box->icon();
        seen->shown = true;
        if (!screenshot.isEmpty())
            SaveScreenshot(box, screenshot);
        if (button != QMessageBox::NoButton)
            box->button(button)->click();
        else
            box->done(box->standardButtons() & QMessageBox::Ok ? QMessageBox::Ok : QMessageBox::Cancel);
    });
    return seen;
}

inline QString LabelText(QWidget* dialog, int id) {
    if (auto* label = dialog->findChild<QLabel*>(QString::number(id)))
        return label->text();
    if (auto* edit = dialog->findChild<QLineEdit*>(QString::number(id)))
        return edit->text();
    return QString("<no control %1>").arg(id);
}

// The module folder, shown through the Qt user interface with a real owner window.
class DialogTest : public ModuleTest {
protected:
    void TearDown() override {
        CancelPendingWaits();
        ModuleTest::TearDown();
    }
    void StartUi(const std::vector<std::string>& converters, const std::string& sections = {}) {
        Start(converters, sections);
        TheFormgateApp().SetHost(&formgate::TheQtUiHost());
    }
    void* Window() { return &window_; }
    std::string Setting(const std::string& key) const {
        Platform::IniFile ini(Settings());
        return ini.GetString("Settings", key, "<none>");
    }

    QWidget window_;
};

}  // namespace FormgateTest
