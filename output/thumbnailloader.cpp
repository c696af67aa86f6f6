#include "output/thumbnailloader.h"

#include "documents/photographfile.h"
#include "sanitizers/tsanhandover.h"

#include <QThreadPool>

#include <functional>
#include <mutex>
#include <utility>
#include <vector>

struct ThumbnailLoader::Shared {
    std::mutex mutex;
    ThumbnailLoader *owner = nullptr; // null once the loader is gone
    std::vector<std::pair<quint64, QImage>> done;
};

ThumbnailLoader::ThumbnailLoader(QObject *parent) : QObject(parent), m_shared(std::make_shared<Shared>())
{
    m_shared->owner = this;
}

ThumbnailLoader::~ThumbnailLoader()
{
    const std::lock_guard<std::mutex> lock(m_shared->mutex);
    m_shared->owner = nullptr;
}

quint64 ThumbnailLoader::load(const QString &path, QSize box, Qt::AspectRatioMode mode)
{
    const quint64 ticket = m_nextTicket++;
    std::function<void()> job = [shared = m_shared, ticket, path, box, mode] {
        tsanhandover::takenFromPool();
        QImage picture;
        try {
            picture = loadThumbnail(path, box, mode);
        } catch (...) {
            // No memory for this one: it stays blank.
        }
        const std::lock_guard<std::mutex> lock(shared->mutex);
        if (!shared->owner)
            return;
        shared->done.emplace_back(ticket, std::move(picture));
        // Posted under the lock: a loader destroyed after this drops the call with its other posted events.
        tsanhandover::CrossThreadEmit handOver;
        QMetaObject::invokeMethod(shared->owner, &ThumbnailLoader::deliver, Qt::QueuedConnection);
    };
    // Marked once the job and its copies are made, just before Qt takes it.
    tsanhandover::handToPool();
    QThreadPool::globalInstance()->start(std::move(job));
    return ticket;
}

void ThumbnailLoader::deliver()
{
    std::vector<std::pair<quint64, QImage>> done;
    {
        const std::lock_guard<std::mutex> lock(m_shared->mutex);
        done.swap(m_shared->done);
    }
    for (const auto &[ticket, picture] : done)
        emit loaded(ticket, picture);
}
