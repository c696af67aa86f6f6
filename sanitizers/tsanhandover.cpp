#include "sanitizers/tsanhandover.h"

#ifdef VORLANT_TSAN_BUILD

#include <QCoreApplication>
#include <QThread>
#include <QThreadPool>
#include <QtGlobal>

#include <cstring>
#include <mutex>

extern "C" {
void __tsan_acquire(void *addr);
void __tsan_release(void *addr);
void __tsan_ignore_thread_begin();
void __tsan_ignore_thread_end();
}

namespace tsanhandover {
namespace {

// One synchronisation point for all jobs given to Qt's thread pool.
char g_poolJobs;

// One synchronisation point for all queued calls: Qt's post-event lock is
// per receiving thread, so this joins a little more than Qt does, never less.
char g_queuedCalls;

// Qt's D-Bus thread runs only Qt's code, passing messages, events and type
// registrations to and from the GUI thread under locks TSan cannot see. None
// of our code runs there, so its memory accesses are left out (its locks still
// count). The first event it delivers tells which thread it is.
const char *const kQtOwnThreadClass = "QDBusConnectionManager";

void leaveOutIfQtOwnThread()
{
    thread_local bool checked = false;
    if (checked)
        return;
    checked = true;
    QThread *thread = QThread::currentThread();
    if (!thread || std::strcmp(thread->metaObject()->className(), kQtOwnThreadClass) != 0)
        return;
    __tsan_ignore_thread_begin();
    // TSan wants every thread to end with its ignores ended.
    QObject::connect(thread, &QThread::finished, thread, [] { __tsan_ignore_thread_end(); }, Qt::DirectConnection);
}

bool onDelivery(void **)
{
    // Every event counts, not only queued calls: the event itself may have
    // been made by another thread, so even its type is not ours to read yet.
    __tsan_acquire(&g_queuedCalls);
    leaveOutIfQtOwnThread();
    return false;
}

} // namespace

void install()
{
    static std::once_flag once;
    std::call_once(once, [] {
        QInternal::registerCallback(QInternal::EventNotifyCallback, onDelivery);
        // QtGui scales large pictures in Qt's global pool, whose threads pass
        // their bookkeeping among themselves under Qt's own locks. One pool
        // thread keeps that hand-over out of reach of a race.
        QThreadPool::globalInstance()->setMaxThreadCount(1);
    });
}

// Every program linking this file marks its hand-overs from the start.
Q_COREAPP_STARTUP_FUNCTION(install)

CrossThreadEmit::CrossThreadEmit()
{
    __tsan_release(&g_queuedCalls);
    __tsan_ignore_thread_begin();
}

CrossThreadEmit::~CrossThreadEmit()
{
    __tsan_ignore_thread_end();
    __tsan_acquire(&g_queuedCalls);
}

void handToPool()
{
    __tsan_release(&g_poolJobs);
}

void takenFromPool()
{
    __tsan_acquire(&g_poolJobs);
}

// Through the queued-call point, so that a deleteLater() queued by finished()
// takes it over when it is delivered.
void threadEnds()
{
    __tsan_release(&g_queuedCalls);
}

void threadEnded()
{
    __tsan_acquire(&g_queuedCalls);
}

} // namespace tsanhandover

#endif
