#include "support/simulatedcameras.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <dlfcn.h>
#include <unistd.h>

#include <vector>

namespace {

constexpr const char *kPreloadVariable = "LD_PRELOAD";
constexpr const char *kDirVariable = "V4L2SIM_DIR";

// What LD_PRELOAD held when the simulator was loaded, for child processes.
QByteArray &preloadForChildren()
{
    static QByteArray value;
    return value;
}

// The directory of this process's nodes, made on first use.
QString processDir()
{
    static QTemporaryDir dir;
    return dir.path();
}

// A sanitizer's runtime library when this process carries one.
QByteArray sanitizerRuntime()
{
    for (const char *symbol : {"__asan_init", "__tsan_init"}) {
        Dl_info info;
        void *address = dlsym(RTLD_DEFAULT, symbol);
        if (address && dladdr(address, &info) && info.dli_fname)
            return info.dli_fname;
    }
    return {};
}

void append(const QString &path, const QByteArray &line)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Append))
        file.write(line + '\n');
}

} // namespace

void SimulatedCameras::preload(int, char **argv)
{
    if (isLoaded()) {
        // Only the program under test needs it; Xvfb and the X tools do not.
        preloadForChildren() = qgetenv(kPreloadVariable);
        qunsetenv(kPreloadVariable);
        qunsetenv("V4L2SIM_TRIED");
        qputenv(kDirVariable, QFile::encodeName(processDir()));
        return;
    }
    const QByteArray library = V4L2SIM_LIBRARY;
    if (!QFile::exists(QString::fromLocal8Bit(library)) || qEnvironmentVariableIsSet("V4L2SIM_TRIED"))
        return; // the tests that need it skip
    qputenv(kPreloadVariable, preloadAfterSanitizer(library));
    qputenv("V4L2SIM_TRIED", "1");
    execv("/proc/self/exe", argv);
}

QByteArray preloadAfterSanitizer(const QByteArray &libraries)
{
    const QByteArray runtime = sanitizerRuntime();
    return runtime.isEmpty() ? libraries : runtime + ' ' + libraries;
}

bool SimulatedCameras::isLoaded()
{
    return dlsym(RTLD_DEFAULT, "v4l2sim_loaded") != nullptr;
}

SimulatedCameras::SimulatedCameras() : SimulatedCameras(processDir()) {}

SimulatedCameras::SimulatedCameras(const QString &dir) : m_dir(dir)
{
    command(QStringLiteral("reset"));
    m_recordStart = QFileInfo(m_dir + QStringLiteral("/record")).size();
}

std::unique_ptr<SimulatedCameras> SimulatedCameras::forChild()
{
    auto dir = std::make_unique<QTemporaryDir>();
    std::unique_ptr<SimulatedCameras> cameras(new SimulatedCameras(dir->path()));
    cameras->m_ownDir = std::move(dir);
    return cameras;
}

void SimulatedCameras::setNodes(const QStringList &lines)
{
    // Replaced whole, so that the simulator never reads half a file.
    QSaveFile file(m_dir + QStringLiteral("/nodes"));
    if (file.open(QIODevice::WriteOnly)) {
        file.write(lines.join(QLatin1Char('\n')).toUtf8() + '\n');
        file.commit();
    }
}

void SimulatedCameras::command(const QString &line)
{
    append(m_dir + QStringLiteral("/control"), line.toUtf8());
}

QStringList SimulatedCameras::record() const
{
    QFile file(m_dir + QStringLiteral("/record"));
    if (!file.open(QIODevice::ReadOnly) || !file.seek(m_recordStart))
        return {};
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QStringList SimulatedCameras::calls(const QString &path, const QString &call) const
{
    QStringList found;
    for (const QString &line : record())
        if (line.startsWith(path + QLatin1Char(' ')) && line.contains(call))
            found << line;
    return found;
}

QProcessEnvironment SimulatedCameras::childEnvironment(QProcessEnvironment base) const
{
    base.insert(QString::fromLatin1(kPreloadVariable), QString::fromLocal8Bit(preloadForChildren()));
    base.insert(QString::fromLatin1(kDirVariable), m_dir);
    return base;
}
