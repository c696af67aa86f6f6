#include "support/xvfbserver.h"

#include <QElapsedTimer>
#include <QStandardPaths>
#include <QTemporaryDir>

namespace {
constexpr int kStartTimeoutMs = 10000;
}

XvfbServer::XvfbServer()
{
    if (QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty())
        return;
    // -displayfd makes the server choose a free display and print its number.
    // Without -noreset it resets whenever its last client leaves (each xdotool
    // call), and a program connecting meanwhile is turned away.
    m_server.start(QStringLiteral("Xvfb"), {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                                            QStringLiteral("0"), QStringLiteral("1280x1024x24"),
                                            QStringLiteral("-nolisten"), QStringLiteral("tcp"), QStringLiteral("-noreset")});
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
