#pragma once

#include <QObject>
#include <QStringList>
#include <QTimer>

// Answers every warning box that comes up while it lives with OK, and keeps
// "title|text" of each, so that a test never blocks on a modal box.
class MessageBoxCloser : public QObject {
public:
    MessageBoxCloser();
    QStringList seen;

private:
    void closeOpenBoxes();
    QTimer m_timer;
};
