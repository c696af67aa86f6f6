#pragma once

#include <QString>

// Marks this process as a running vorlant for as long as the object lives,
// through a shared lock on a file the system drops with the process, and
// tells whether another one was running when it was made: files another
// one is writing right now must be left alone.
class RunningInstance {
public:
    // The lock file is "vorlant.lock" in the user's runtime folder.
    RunningInstance();
    explicit RunningInstance(const QString &lockPath);
    ~RunningInstance();
    RunningInstance(const RunningInstance &) = delete;
    RunningInstance &operator=(const RunningInstance &) = delete;

    // True as well when it cannot be told: the careful answer.
    bool othersRunning() const { return m_othersRunning; }

private:
    int m_fd = -1;
    bool m_othersRunning = true;
};
