#pragma once
// The document's runs work off the user-interface thread once a window shows
// it: a test that starts one lets the event loop run until every run, and
// what waited for it, has ended.

#include <QElapsedTimer>
#include <QTest>

#include "COvHorizelDoc.h"

inline bool WaitForJobs(COvHorizelDoc& doc, int timeoutMs = 120000) {
    QElapsedTimer clock;
    clock.start();
    while (!doc.Jobs().IsIdle() && clock.elapsed() < timeoutMs)
        QTest::qWait(5);
    // What the last run's end told the windows arrives on queued connections.
    QTest::qWait(5);
    return doc.Jobs().IsIdle();
}
