#pragma once

#include "engine/ocrlines.h"

#include <QHash>
#include <QObject>
#include <QStringList>
#include <QVector>

class QProcess;

// Reads the text of page pictures, each in its own worker process: the
// recogniser's threads are set before it loads, a crash in it cannot take the
// program down, and several pages run at once. Runs on the GUI thread's event
// loop; the work happens in the workers, whose output is trusted only as far
// as it parses: it is capped, and what they say on standard error goes to
// the debug log, never to the user.
class OcrQueue : public QObject {
    Q_OBJECT

public:
    static constexpr int kParallelPages = 2;
    static constexpr int kPageTimeoutMs = 120000;
    // Far more than the text of any page; a worker writing more is stopped.
    static constexpr qint64 kMaxOutputBytes = 8 * 1024 * 1024;
    static constexpr qint64 kMaxLoggedErrorBytes = 4096;

    explicit OcrQueue(QObject *parent = nullptr);
    ~OcrQueue() override;

    // The worker beside the executable, or the one named by VORLANT_OCR_WORKER.
    static QString workerPath();
    void setWorkerPath(const QString &path) { m_workerPath = path; }
    void setPageTimeout(int milliseconds) { m_timeoutMs = milliseconds; }

    // Starts reading the pictures; finished() follows once every page is done.
    void start(const QStringList &imagePaths);
    // Stops the workers at once; pages not yet read count as cancelled, and
    // finished() is not emitted.
    void cancel();
    bool isRunning() const { return !m_workers.isEmpty() || m_next < m_paths.size(); }
    // Blocks in a local event loop until every page is done.
    void waitForFinished();

    int pageCount() const { return m_paths.size(); }
    int pagesDone() const { return m_done; }
    const OcrPage &page(int index) const { return m_pages[index]; }

signals:
    void pageFinished(int index);
    void finished();

private:
    struct Worker {
        int index = 0;
        QByteArray output;
        qint64 errorBytes = 0;
        bool timedOut = false;
        bool overflowed = false;
    };

    void launchNext();
    void readOutput(QProcess *process);
    void logErrors(QProcess *process);
    void collect(QProcess *process);
    void stop(QProcess *process);

    QString m_workerPath;
    int m_timeoutMs = kPageTimeoutMs;
    QStringList m_paths;
    QVector<OcrPage> m_pages;
    QHash<QProcess *, Worker> m_workers;
    int m_next = 0;
    int m_done = 0;
};
