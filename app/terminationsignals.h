#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGTERM, SIGINT and SIGHUP (kill, Ctrl+C, logout, shutdown) into a Qt
// signal on the thread that made the object, so that the program can end as
// when its window is closed. A second one of them ends the program at once.
// One object at a time; the previous handlers come back when it goes.
class TerminationSignals : public QObject {
    Q_OBJECT

public:
    explicit TerminationSignals(QObject *parent = nullptr);
    ~TerminationSignals() override;
    TerminationSignals(const TerminationSignals &) = delete;
    TerminationSignals &operator=(const TerminationSignals &) = delete;

    // Whether one has arrived, also before an event loop could report it.
    static bool received();

signals:
    void terminationRequested(int signalNumber);

private:
    void readPending();

    QSocketNotifier *m_notifier = nullptr;
};
