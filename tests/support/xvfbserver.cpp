#include "support/xvfbserver.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QStandardPaths>
#include <QTemporaryDir>

namespace {
constexpr int kStartTimeoutMs = 10000;
constexpr int kFirstDisplay = 100;
constexpr int kDisplaysPerProcess = 16;
constexpr int kProcessSpread = 500;
int g_serversStarted = 0;
} // namespace

XvfbServer::XvfbServer()
{
    if (QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty())
        return;
    // A display of its own, apart from other test processes' (by the process
    // id) and new for each server: one that takes the display another server
    // is just giving up can be left without a socket to connect to.
    const int display = kFirstDisplay + int(QCoreApplication::applicationPid() % kProcessSpread) * kDisplaysPerProcess +
                        g_serversStarted++ % kDisplaysPerProcess;
    // -displayfd makes the server print the display's number once it is ready.
    m_server.start(QStringLiteral("Xvfb"),
                   {QStringLiteral(":%1").arg(display), QStringLiteral("-displayfd"), QStringLiteral("1"),
                    QStringLiteral("-screen"), QStringLiteral("0"), QStringLiteral("1280x1024x24"),
                    QStringLiteral("-nolisten"), QStringLiteral("tcp")});
    if (!m_server.waitForStarted(kStartTimeoutMs))
        return;
    QElapsedTimer clock;
    clock.start();
    QByteArray out;
    while (!out.contains('\n') && clock.elapsed() < kStartTimeoutMs && m_server.state() == QProcess::Running) {
        m_server.waitForReadyRead(200);
        out += m_server.readAllStandardOutput();
    }
    const QByteArray number = out.trimmed();
    if (!number.isEmpty())
        m_display = QStringLiteral(":") + QString::fromLatin1(number);
}

XvfbServer::~XvfbServer()
{
    if (m_server.state() != QProcess::NotRunning) {
        m_server.terminate();
        if (!m_server.waitForFinished(3000))
            m_server.kill();
        m_server.waitForFinished(3000);
    }
}

QProcessEnvironment XvfbServer::environment() const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), m_display);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    return env;
}

QStringList XvfbServer::findWindows(const QString &titlePattern) const
{
    QProcess p;
    p.setProcessEnvironment(environment());
    p.start(QStringLiteral("xdotool"), {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                        QStringLiteral("--name"), titlePattern});
    p.waitForFinished(5000);
    return QString::fromLatin1(p.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

bool XvfbServer::xdotool(const QStringList &args) const
{
    QProcess p;
    p.setProcessEnvironment(environment());
    p.start(QStringLiteral("xdotool"), args);
    return p.waitForFinished(5000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

QImage XvfbServer::screenshot() const
{
    const QString tool = qEnvironmentVariable("VORLANT_SCREENSHOT");
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("screen.png"));
    QProcess p;
    p.setProcessEnvironment(environment());
    p.start(tool, {file});
    if (!p.waitForFinished(10000) || p.exitCode() != 0)
        return {};
    return QImage(file);
}
