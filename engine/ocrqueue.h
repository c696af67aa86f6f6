#pragma once

#include "engine/ocrlines.h"

#include <QObject>
#include <QStringList>
#include <QVector>

class QProcess;

// Reads the text of page pictures, each in its own worker process: the
// recogniser's threads are set before it loads, a crash in it cannot take the
// program down, and several pages run at once. Runs on the GUI thread's event
// loop; the work happens in the workers.
class OcrQueue : public QObject {
    Q_OBJECT

public:
    static constexpr int kParallelPages = 2;
    static constexpr int kPageTimeoutMs = 120000;

    explicit OcrQueue(QObject *parent = nullptr);
    ~OcrQueue() override;

    // The worker beside the executable, or the one named by VORLANT_OCR_WORKER.
    static QString workerPath();
    void setWorkerPath(const QString &path) { m_workerPath = path; }

    // Starts reading the pictures; finished() follows once every page is done.
    void start(const QStringList &imagePaths);
    // Stops the workers; pages not yet read count as failed.
    void cancel();
    bool isRunning() const { return m_running > 0 || m_next < m_paths.size(); }
    // Blocks in a local event loop until every page is done.
    void waitForFinished();

    int pageCount() const { return m_paths.size(); }
    int pagesDone() const { return m_done; }
    const OcrPage &page(int index) const { return m_pages[index]; }

signals:
    void pageFinished(int index);
    void finished();

private:
    void launchNext();
    void collect(QProcess *process, int index, bool crashed);

    QString m_workerPath;
    QStringList m_paths;
    QVector<OcrPage> m_pages;
    int m_next = 0;
    int m_running = 0;
    int m_done = 0;
    bool m_cancelled = false;
};
