#pragma once
// Widget tests wait for what the event loop delivers (timers, posted events)
// without a fixed sleep.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QThread>

namespace TestSupport {

// Runs the event loop until done() holds or ms milliseconds pass; whether
// done() holds at the end.
template <typename Done>
bool WaitForEvents(Done done, int ms) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(5);
    }
    return done();
}

}  // namespace TestSupport
