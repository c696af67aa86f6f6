#pragma once

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

// An LD_PRELOAD value for a child: the sanitizer's runtime of this build, if
// any, must come before any other preloaded library.
QByteArray preloadAfterSanitizer(const QByteArray &libraries);

// The Video4Linux2 nodes played by tests/v4l2sim, for tests that run the real
// discovery and the real OpenCV capture path. Each object starts from plugged-in
// nodes without faults and sees only what was recorded since it was made.
class SimulatedCameras {
public:
    // Call first in main: runs the test again with the simulator preloaded
    // (after the sanitizer's runtime, which must come first).
    static void preload(int argc, char **argv);
    static bool isLoaded();

    // The nodes this process sees.
    SimulatedCameras();
    // A separate set for a child process, started with childEnvironment().
    static std::unique_ptr<SimulatedCameras> forChild();

    // One line per node: "/dev/video0 camera card=\"Desk Cam\" formats=MJPG,YUYV sizes=640x480 fps=30".
    void setNodes(const QStringList &lines);
    // "unplug /dev/video0", "replug …", "stall … MS", "resume …", "busy … on|off".
    void command(const QString &line);
    // What the program asked of the nodes since this object was made, one call a line.
    QStringList record() const;
    // The recorded lines that start with `path` and contain `call`.
    QStringList calls(const QString &path, const QString &call) const;
    QProcessEnvironment childEnvironment(QProcessEnvironment base) const;

private:
    explicit SimulatedCameras(const QString &dir);

    std::unique_ptr<QTemporaryDir> m_ownDir;
    QString m_dir;
    qint64 m_recordStart = 0;
};
