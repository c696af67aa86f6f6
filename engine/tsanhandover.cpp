#include "engine/tsanhandover.h"

#ifdef VORLANT_TSAN_BUILD

#include <QEvent>
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

bool onDelivery(void **data)
{
    // data: receiver, event, result (QCoreApplication::notifyInternal2).
    const auto *event = static_cast<const QEvent *>(data[1]);
    if (event && event->type() == QEvent::MetaCall)
        __tsan_acquire(&g_queuedCalls);
    return false;
}

} // namespace

void install()
{
    static std::once_flag once;
    std::call_once(once, [] { QInternal::registerCallback(QInternal::EventNotifyCallback, onDelivery); });
}

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

SlotDone::~SlotDone()
{
    __tsan_release(&g_queuedCalls);
}

} // namespace tsanhandover

#endif
