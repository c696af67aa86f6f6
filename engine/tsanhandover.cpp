#include "engine/tsanhandover.h"

#ifdef VORLANT_TSAN_BUILD

#include <QCoreApplication>
#include <QThreadPool>
#include <QtGlobal>

#include <mutex>

extern "C" {
void __tsan_acquire(void *addr);
void __tsan_release(void *addr);
void __tsan_ignore_thread_begin();
void __tsan_ignore_thread_end();
}

namespace tsanhandover {
namespace {

// One synchronisation point for all queued calls: Qt's post-event lock is
// per receiving thread, so this joins a little more than Qt does, never less.
char g_queuedCalls;

bool onDelivery(void **)
{
    // Every event counts, not only queued calls: the event itself may have
    // been made by another thread, so even its type is not ours to read yet.
    __tsan_acquire(&g_queuedCalls);
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

void publish()
{
    __tsan_release(&g_queuedCalls);
}

SlotDone::~SlotDone()
{
    __tsan_release(&g_queuedCalls);
}

} // namespace tsanhandover

#endif
