#include "engine/jobqueue.h"

#include "app/logging.h"

#include <cerrno>
#include <cstring>
#include <utility>

#include <sys/resource.h>
#include <unistd.h>

JobQueue::~JobQueue()
{
    finish();
}

void JobQueue::finish()
{
    std::thread thread;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
        thread = std::move(m_thread);
    }
    m_wake.notify_one();
    if (thread.joinable())
        thread.join();
}

void JobQueue::post(std::function<void()> job)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_jobs.push_back(std::move(job));
        if (!m_thread.joinable())
            m_thread = std::thread(&JobQueue::work, this);
    }
    m_wake.notify_one();
}

int JobQueue::pending() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return static_cast<int>(m_jobs.size()) + m_running;
}

void JobQueue::work()
{
    if (m_niceness != 0) {
        // Linux takes a thread id here and changes that thread alone.
        const auto self = static_cast<id_t>(::gettid());
        errno = 0;
        const int current = ::getpriority(PRIO_PROCESS, self);
        if (errno == 0 && ::setpriority(PRIO_PROCESS, self, current + m_niceness) != 0)
            qCDebug(lcCapture) << "worker priority unchanged:" << std::strerror(errno);
    }
    for (;;) {
        std::function<void()> job;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stopping || !m_jobs.empty(); });
            if (m_jobs.empty())
                return;
            job = std::move(m_jobs.front());
            m_jobs.pop_front();
            m_running = 1;
        }
        job();
        job = nullptr;
        std::lock_guard<std::mutex> lock(m_mutex);
        m_running = 0;
    }
}
