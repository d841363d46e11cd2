#pragma once
// Waiting in tests: poll a condition while dispatching events, never a fixed sleep.

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>

template <typename Condition> bool waitUntil(Condition condition, int timeoutMs = 5000)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return true;
}
