#include "engine/ocrqueue.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTimer>
#include <QVariant>

namespace {

const char kWorkerName[] = "vorlant-ocr";
// One thread per worker: left to itself the recogniser starts one per core
// in every worker, and two pages then take several times longer.
const char kThreadLimit[] = "OMP_THREAD_LIMIT";

} // namespace

OcrQueue::OcrQueue(QObject *parent) : QObject(parent), m_workerPath(workerPath()) {}

OcrQueue::~OcrQueue()
{
    cancel();
}

QString OcrQueue::workerPath()
{
    const QString configured = qEnvironmentVariable("VORLANT_OCR_WORKER");
    if (!configured.isEmpty())
        return configured;
    return QCoreApplication::applicationDirPath() + QLatin1Char('/') + QLatin1String(kWorkerName);
}

void OcrQueue::start(const QStringList &imagePaths)
{
    cancel();
    m_cancelled = false;
    m_paths = imagePaths;
    m_pages = QVector<OcrPage>(imagePaths.size());
    m_next = 0;
    m_done = 0;
    if (m_paths.isEmpty()) {
        QTimer::singleShot(0, this, &OcrQueue::finished);
        return;
    }
    while (m_running < kParallelPages && m_next < m_paths.size())
        launchNext();
}

void OcrQueue::launchNext()
{
    const int index = m_next++;
    auto *process = new QProcess(this);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QLatin1String(kThreadLimit), QStringLiteral("1"));
    process->setProcessEnvironment(environment);
    auto *timeout = new QTimer(process);
    timeout->setSingleShot(true);
    connect(timeout, &QTimer::timeout, process, &QProcess::kill);
    connect(process, qOverload<int, QProcess::ExitStatus>(&QProcess::finished), this,
            [this, process, index](int, QProcess::ExitStatus status) {
                collect(process, index, status == QProcess::CrashExit);
            });
    connect(process, &QProcess::errorOccurred, this, [this, process, index](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            collect(process, index, true);
    });
    ++m_running;
    process->start(m_workerPath, {m_paths[index]});
    timeout->start(kPageTimeoutMs);
}

void OcrQueue::collect(QProcess *process, int index, bool crashed)
{
    if (process->property("collected").toBool())
        return;
    process->setProperty("collected", true);
    OcrPage &page = m_pages[index];
    if (m_cancelled) {
        page.error = tr("已取消");
    } else if (process->error() == QProcess::FailedToStart) {
        page.error = tr("无法启动文字识别程序 %1").arg(m_workerPath);
    } else if (crashed || process->exitCode() != 0) {
        const QString message = QString::fromUtf8(process->readAllStandardError()).trimmed();
        page.error = message.isEmpty() ? tr("文字识别程序异常退出") : message;
    } else if (!parseOcrLines(process->readAllStandardOutput(), &page.lines)) {
        page.error = tr("文字识别结果不完整");
        page.lines.clear();
    } else {
        page.ok = true;
    }
    process->deleteLater();
    --m_running;
    ++m_done;
    emit pageFinished(index);
    if (m_cancelled)
        return; // cancel() reports the end
    if (m_next < m_paths.size())
        launchNext();
    else if (m_running == 0)
        emit finished();
}

void OcrQueue::cancel()
{
    if (!isRunning())
        return;
    m_cancelled = true;
    for (QProcess *process : findChildren<QProcess *>()) {
        process->kill();
        process->waitForFinished(1000);
    }
    // Pages never started are failed too, so that every page has its answer.
    while (m_next < m_paths.size()) {
        m_pages[m_next++].error = tr("已取消");
        ++m_done;
    }
    emit finished();
}

void OcrQueue::waitForFinished()
{
    if (!isRunning())
        return;
    QEventLoop loop;
    connect(this, &OcrQueue::finished, &loop, &QEventLoop::quit);
    loop.exec();
}
