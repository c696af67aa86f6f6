#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

// A worker thread that runs the jobs given to it one at a time, in the order
// they were given. The thread starts with the first job; the destructor runs
// what is still queued and then ends it.
class JobQueue {
public:
    // `niceness` lowers the worker's scheduling priority below its creator's:
    // on a busy processor the threads it shares it with go first.
    explicit JobQueue(int niceness = 0) : m_niceness(niceness) {}
    ~JobQueue();
    JobQueue(const JobQueue &) = delete;
    JobQueue &operator=(const JobQueue &) = delete;

    void post(std::function<void()> job);
    // Runs what is queued and ends the thread.
    void finish();
    // Jobs queued or running.
    int pending() const;

private:
    void work();

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_jobs;
    const int m_niceness;
    int m_running = 0;
    bool m_stopping = false;
    std::thread m_thread;
};
