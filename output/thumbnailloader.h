#pragma once

#include <QImage>
#include <QObject>
#include <QSize>
#include <QString>

#include <memory>

// Decodes thumbnails on Qt's thread pool, so that a large photograph never
// holds up a window; each comes back to the loader's thread as loaded().
// Results still on their way when the loader is destroyed are dropped.
class ThumbnailLoader : public QObject {
    Q_OBJECT

public:
    explicit ThumbnailLoader(QObject *parent = nullptr);
    ~ThumbnailLoader() override;

    // Starts decoding `path` to `box`; loaded() follows with the ticket returned.
    quint64 load(const QString &path, QSize box, Qt::AspectRatioMode mode = Qt::KeepAspectRatio);

signals:
    // A null picture when the file cannot be shown.
    void loaded(quint64 ticket, const QImage &picture);

private:
    struct Shared;
    void deliver();

    std::shared_ptr<Shared> m_shared;
    quint64 m_nextTicket = 1;
};
