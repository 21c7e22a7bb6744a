#pragma once

// Waiting for the window in GoogleTest: Qt's QTRY_ macros report to Qt Test's log and would
// let a failing test pass here.

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>

/// Runs the event loop until `done()` holds or `ms` have passed; true when it held.
template <typename F> bool waitUntil(F done, int ms = 5000) {
    QDeadlineTimer deadline(ms);
    while (!done()) {
        if (deadline.hasExpired()) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    return true;
}
