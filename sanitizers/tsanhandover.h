#pragma once

// Qt hands a queued call to the receiving thread under its own locks, in
// libraries ThreadSanitizer does not instrument, so it cannot see that hand-over
// and takes the receiver's use of the sender's data for a race. TSan builds mark
// the hand-over here; other builds compile it away.
namespace tsanhandover {

#ifdef VORLANT_TSAN_BUILD
// Makes every event's delivery take over what senders published with
// CrossThreadEmit. Runs when the application starts; calling it
// again does nothing.
void install();

// Wraps one emit (or queued call) whose receivers live in other threads.
// Publishes what the sender wrote before it; leaves to Qt the event and
// argument copies Qt makes inside the emit (freed later by the receiver);
// and takes over what was published before it.
class CrossThreadEmit {
public:
    CrossThreadEmit();
    ~CrossThreadEmit();
    CrossThreadEmit(const CrossThreadEmit &) = delete;
    CrossThreadEmit &operator=(const CrossThreadEmit &) = delete;
};

// A job handed to Qt's thread pool, which queues it under its own locks:
// handToPool() just before QThreadPool::start(), takenFromPool() first thing
// in the job, before it reads anything it was given.
void handToPool();
void takenFromPool();

// A QThread ends under Qt's own locks: QThread::wait() on a thread that has
// already finished sees none that TSan knows. threadEnds() in a direct slot
// of finished(), connected last; threadEnded() once wait() says it finished.
void threadEnds();
void threadEnded();
#else
inline void install() {}

class CrossThreadEmit {
public:
    CrossThreadEmit() {}
    ~CrossThreadEmit() {}
};

inline void handToPool() {}
inline void takenFromPool() {}
inline void threadEnds() {}
inline void threadEnded() {}
#endif

} // namespace tsanhandover
