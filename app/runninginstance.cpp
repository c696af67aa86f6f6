#include "app/runninginstance.h"

#include "app/logging.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <cerrno>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

QString defaultLockPath()
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty())
        folder = QDir::tempPath();
    return folder + QStringLiteral("/vorlant.lock");
}

} // namespace

RunningInstance::RunningInstance() : RunningInstance(defaultLockPath()) {}

RunningInstance::RunningInstance(const QString &lockPath)
{
    m_fd = ::open(QFile::encodeName(lockPath).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (m_fd < 0) {
        const QString error = qt_error_string(errno);
        qCWarning(lcStartup) << "cannot tell other running copies:" << lockPath << error;
        return;
    }
    // Alone when nobody holds even a shared lock; everyone keeps a shared one.
    m_othersRunning = ::flock(m_fd, LOCK_EX | LOCK_NB) != 0;
    if (::flock(m_fd, LOCK_SH) != 0) {
        const QString error = qt_error_string(errno);
        qCWarning(lcStartup) << "cannot mark this copy as running:" << error;
    }
    qCDebug(lcStartup) << (m_othersRunning ? "another copy is running" : "no other copy is running");
}

RunningInstance::~RunningInstance()
{
    if (m_fd >= 0)
        ::close(m_fd);
}
