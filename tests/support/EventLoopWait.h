#pragma once
// Widget tests wait for what the event loop delivers (timers, posted events)
// without a fixed sleep.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QThread>

namespace TestSupport {

// Runs the event loop until done() holds or ms milliseconds pass; whether
// done() holds at the end. Objects deleted later are deleted on the way, as
// a running loop would.
template <typename Done>
bool WaitForEvents(Done done, int ms) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QThread::msleep(5);
    }
    return done();
}

}  // namespace TestSupport
