#include "recording/leftovers.h"

#include "app/logging.h"
#include "recording/partrepair.h"
#include "sanitizers/tsanhandover.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

namespace {

// The photograph namer's and the document writers' temporary files: a
// hidden name, 16 hexadecimal digits, ".part", perhaps a format suffix.
const QRegularExpression kTemporaryName(QStringLiteral(R"(^\.vorlant-[0-9a-f]{16}\.part(\.[A-Za-z0-9]+)?$)"));

} // namespace

Leftovers findLeftovers(const QString &directory, const QDateTime &now, bool othersRunning)
{
    Leftovers found;
    const QDir folder(directory);
    const QFileInfoList files =
        folder.entryInfoList({QStringLiteral(".vorlant-*"), QStringLiteral("*.part.avi")},
                             QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot | QDir::NoSymLinks, QDir::Name);
    for (const QFileInfo &file : files) {
        const bool temporary = kTemporaryName.match(file.fileName()).hasMatch();
        const bool part = !temporary && isRecordingPartName(file.fileName());
        if (!temporary && !part)
            continue;
        if (othersRunning && file.lastModified().secsTo(now) < kLeftoverAgeSeconds)
            continue;
        (temporary ? found.temporaries : found.parts) << file.absoluteFilePath();
    }
    return found;
}

QString recoveryMessage(const RecoveryReport &report)
{
    QStringList lines;
    if (!report.recovered.isEmpty()) {
        lines << LeftoverRecovery::tr("上次未正常结束时正在录制的录像已恢复：");
        for (const QString &path : report.recovered)
            lines << QDir::toNativeSeparators(path);
    }
    if (!report.unrepaired.isEmpty()) {
        if (!lines.isEmpty())
            lines << QString();
        lines << LeftoverRecovery::tr("以下未完成的录像无法修复，仍保留在原处：");
        lines << report.unrepaired;
    }
    return lines.join(QLatin1Char('\n'));
}

LeftoverRecovery::LeftoverRecovery(Leftovers leftovers, QObject *parent)
    : QObject(parent), m_leftovers(std::move(leftovers))
{
}

LeftoverRecovery::~LeftoverRecovery()
{
    m_cancel.store(true);
    if (m_worker.joinable())
        m_worker.join();
}

void LeftoverRecovery::start()
{
    int removed = 0;
    for (const QString &path : m_leftovers.temporaries) {
        if (QFile::remove(path))
            ++removed;
        else
            qCDebug(lcStartup) << "stale temporary file not removed:" << path;
    }
    if (removed > 0)
        qCDebug(lcStartup) << "removed" << removed << "stale temporary files";
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_report.removedTemporaries = removed;
    }
    m_worker = std::thread(&LeftoverRecovery::repairParts, this);
}

RecoveryReport LeftoverRecovery::report() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_report;
}

void LeftoverRecovery::repairParts()
{
    for (const QString &part : m_leftovers.parts) {
        if (m_cancel.load())
            return;
        const PartRepair repair = repairRecordingPart(part, m_cancel);
        if (m_cancel.load())
            return;
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!repair.path.isEmpty())
            m_report.recovered << repair.path;
        else if (!repair.error.isEmpty())
            m_report.unrepaired << tr("%1：%2").arg(QDir::toNativeSeparators(part), repair.error);
    }
    tsanhandover::CrossThreadEmit handOver;
    emit finishedSignal();
}
