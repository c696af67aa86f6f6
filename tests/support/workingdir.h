#pragma once

#include <QDir>
#include <QString>
#include <QTemporaryDir>

// Switches the process's working directory to a fresh temporary folder for
// the lifetime of the object, and back afterwards.
class ScopedWorkingDir {
public:
    ScopedWorkingDir() : m_previous(QDir::currentPath()) { QDir::setCurrent(m_dir.path()); }
    ~ScopedWorkingDir() { QDir::setCurrent(m_previous); }
    QString path() const { return m_dir.path(); }
    QString file(const QString &name) const { return m_dir.filePath(name); }

private:
    QTemporaryDir m_dir;
    QString m_previous;
};
