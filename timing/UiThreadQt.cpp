// The UI thread as Qt's GUI thread: a queued call on an object living there
// wakes it to serve the hand-overs, and WaitMs keeps its windows painted.
#include "timing/UiThread.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QObject>
#include <QPointer>

#include <mutex>

namespace kv {

namespace {

// Set once on the UI thread before any worker can wake it; read by workers
// under the hand-over lock, as the wake hook is called.
QPointer<QObject>& Receiver()
{
    static auto* receiver = new QPointer<QObject>; // outlives static destruction on purpose
    return *receiver;
}

void WakeQt()
{
    if (QObject* receiver = Receiver().data())
        QMetaObject::invokeMethod(receiver, [] { ServeHandOvers(); }, Qt::QueuedConnection);
}

void PumpQt()
{
    if (QCoreApplication::instance())
        QCoreApplication::processEvents(QEventLoop::AllEvents);
}

} // namespace

void InstallUiThread()
{
    static std::mutex once;
    {
        std::lock_guard lock(once);
        if (!Receiver()) {
            auto* receiver = new QObject;
            if (QCoreApplication::instance())
                QObject::connect(QCoreApplication::instance(), &QObject::destroyed, receiver, &QObject::deleteLater);
            Receiver() = receiver;
        }
    }
    InstallUiThreadLoop(&WakeQt, &PumpQt);
}

} // namespace kv
