#pragma once
// Accepts every message box and prompt the program opens while a test drives
// the real main window, so a question the test does not look at never waits
// for a user who is not there.

#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include "CDlgPrompts.h"

namespace TestSupport {

inline void AcceptPromptsWith(QTimer& watcher) {
    watcher.setInterval(5);
    QObject::connect(&watcher, &QTimer::timeout, [] {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* box = qobject_cast<QMessageBox*>(modal))
            box->accept();
        else if (auto* prompt = qobject_cast<CDlgPromptBase*>(modal))
            prompt->accept();
    });
    watcher.start();
}

}  // namespace TestSupport
