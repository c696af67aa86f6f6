#pragma once

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <mutex>
#include <thread>

// What a run that crashed or was killed left in a work folder.
struct Leftovers {
    // Hidden ".vorlant-….part" files of photographs and documents never finished.
    QStringList temporaries;
    // Recordings "….part.avi" that never got their closing index.
    QStringList parts;
};

// A file unchanged for this long is nobody's work in progress.
constexpr qint64 kLeftoverAgeSeconds = 60 * 60;

// Only files the program itself names so, and while another copy of it runs
// only those unchanged for kLeftoverAgeSeconds: it may be writing the others.
Leftovers findLeftovers(const QString &directory, const QDateTime &now, bool othersRunning);

struct RecoveryReport {
    QStringList recovered;  // repaired recordings, under their final names
    QStringList unrepaired; // "<part>：<why>", each left where it was
    int removedTemporaries = 0;
};

// The text that tells the user, once, what happened to their recordings;
// empty when there were none.
QString recoveryMessage(const RecoveryReport &report);

// Removes the temporaries at once and repairs the parts on a thread of its
// own (a part may be gigabytes), then says finishedSignal(). Destroying it
// stops a repair between two frames; the part stays for the next start.
class LeftoverRecovery : public QObject {
    Q_OBJECT

public:
    explicit LeftoverRecovery(Leftovers leftovers, QObject *parent = nullptr);
    ~LeftoverRecovery() override;

    void start();
    // Complete once finishedSignal() came.
    RecoveryReport report() const;

signals:
    void finishedSignal();

private:
    void repairParts();

    Leftovers m_leftovers;
    std::atomic<bool> m_cancel{false};
    mutable std::mutex m_mutex;
    RecoveryReport m_report;
    std::thread m_worker;
};
