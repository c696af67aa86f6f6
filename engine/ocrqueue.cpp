#include "engine/ocrqueue.h"

#include "app/logging.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTimer>

namespace {

const char kWorkerName[] = "vorlant-ocr";
// One thread per worker: left to itself the recogniser starts one per core
// in every worker, and two pages then take several times longer.
const char kThreadLimit[] = "OMP_THREAD_LIMIT";
constexpr int kMillisecondsPerSecond = 1000;

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
    m_paths = imagePaths;
    m_pages = QVector<OcrPage>(imagePaths.size());
    m_next = 0;
    m_done = 0;
    if (m_paths.isEmpty()) {
        QTimer::singleShot(0, this, &OcrQueue::finished);
        return;
    }
    while (m_workers.size() < kParallelPages && m_next < m_paths.size())
        launchNext();
}

void OcrQueue::launchNext()
{
    const int index = m_next++;
    auto *process = new QProcess(this);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QLatin1String(kThreadLimit), QStringLiteral("1"));
    process->setProcessEnvironment(environment);
    m_workers.insert(process, Worker{index, {}, 0, false, false});

    auto *timeout = new QTimer(process);
    timeout->setSingleShot(true);
    connect(timeout, &QTimer::timeout, this, [this, process] {
        m_workers[process].timedOut = true;
        process->kill();
    });
    connect(process, &QProcess::readyReadStandardOutput, this, [this, process] { readOutput(process); });
    connect(process, &QProcess::readyReadStandardError, this, [this, process] { logErrors(process); });
    connect(process, qOverload<int, QProcess::ExitStatus>(&QProcess::finished), this,
            [this, process] { collect(process); });
    connect(process, &QProcess::errorOccurred, this, [this, process](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            collect(process);
    });
    process->start(m_workerPath, {m_paths[index]});
    timeout->start(m_timeoutMs);
}

void OcrQueue::readOutput(QProcess *process)
{
    Worker &worker = m_workers[process];
    if (worker.overflowed) {
        process->readAllStandardOutput();
        return;
    }
    worker.output += process->read(kMaxOutputBytes + 1 - worker.output.size());
    if (worker.output.size() > kMaxOutputBytes) {
        worker.overflowed = true;
        worker.output.clear();
        process->kill();
    }
}

void OcrQueue::logErrors(QProcess *process)
{
    Worker &worker = m_workers[process];
    const QByteArray text = process->readAllStandardError();
    if (worker.errorBytes < kMaxLoggedErrorBytes)
        qCDebug(lcOcr).noquote() << "worker" << worker.index + 1 << "says:"
                                 << QString::fromUtf8(text.left(kMaxLoggedErrorBytes - worker.errorBytes)).trimmed();
    worker.errorBytes += text.size();
}

void OcrQueue::collect(QProcess *process)
{
    const auto found = m_workers.find(process);
    if (found == m_workers.end())
        return;
    if (!found->overflowed && process->error() != QProcess::FailedToStart) {
        process->setReadChannel(QProcess::StandardOutput);
        readOutput(process);
    }
    const Worker worker = *found;
    m_workers.erase(found);
    OcrPage &page = m_pages[worker.index];
    if (process->error() == QProcess::FailedToStart) {
        page.error = tr("无法启动文字识别程序 %1").arg(m_workerPath);
    } else if (worker.timedOut) {
        page.error = tr("文字识别超时（超过 %1 秒）").arg(m_timeoutMs / kMillisecondsPerSecond);
    } else if (worker.overflowed) {
        page.error = tr("文字识别程序输出过多，已停止");
    } else if (process->exitStatus() == QProcess::CrashExit) {
        page.error = tr("文字识别程序异常退出");
    } else if (process->exitCode() != 0) {
        page.error = tr("文字识别程序未能读取此页（退出码 %1）").arg(process->exitCode());
    } else if (!parseOcrLines(worker.output, &page.lines)) {
        page.error = tr("文字识别结果不完整");
        page.lines.clear();
    } else {
        page.ok = true;
    }
    if (!page.ok)
        qCDebug(lcOcr) << "page" << worker.index + 1 << m_paths[worker.index] << page.error;
    stop(process);
    ++m_done;
    emit pageFinished(worker.index);
    if (m_next < m_paths.size())
        launchNext();
    else if (m_workers.isEmpty())
        emit finished();
}

// Ends a worker without a word from it: its signals are cut first.
void OcrQueue::stop(QProcess *process)
{
    disconnect(process, nullptr, this, nullptr);
    if (process->state() != QProcess::NotRunning) {
        process->kill();
        process->waitForFinished(kMillisecondsPerSecond);
    }
    process->deleteLater();
}

void OcrQueue::cancel()
{
    if (!isRunning())
        return;
    const QList<QProcess *> running = m_workers.keys();
    for (QProcess *process : running) {
        m_pages[m_workers.take(process).index].error = tr("已取消");
        stop(process);
        ++m_done;
    }
    // Pages never started are cancelled too, so that every page has its answer.
    while (m_next < m_paths.size()) {
        m_pages[m_next++].error = tr("已取消");
        ++m_done;
    }
}

void OcrQueue::waitForFinished()
{
    if (!isRunning())
        return;
    QEventLoop loop;
    connect(this, &OcrQueue::finished, &loop, &QEventLoop::quit);
    loop.exec();
}
