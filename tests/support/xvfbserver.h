#pragma once

#include <QImage>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>

// A private X server for tests that run the real program in a real window.
class XvfbServer {
public:
    XvfbServer();
    ~XvfbServer();
    bool isRunning() const { return !m_display.isEmpty(); }
    QString display() const { return m_display; }
    // The environment a program needs to show its windows on this server.
    QProcessEnvironment environment() const;
    // Ids of the windows whose title matches the pattern (xdotool search --name).
    QStringList findWindows(const QString &titlePattern) const;
    // Runs xdotool with the given arguments; true when it succeeded.
    bool xdotool(const QStringList &args) const;
    // The whole screen as the server shows it now.
    QImage screenshot() const;

private:
    QProcess m_server;
    QString m_display;
};
