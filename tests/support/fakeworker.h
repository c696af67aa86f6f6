#pragma once

#include <QFile>
#include <QString>

// A stand-in for the OCR worker: a shell script with `body`, its page picture as "$1".
inline QString writeWorkerScript(const QString &path, const QString &body)
{
    QFile script(path);
    if (!script.open(QIODevice::WriteOnly))
        return {};
    script.write("#!/bin/sh\n" + body.toUtf8() + '\n');
    script.close();
    script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return path;
}

// Names another OCR worker for the scope's length.
class ScopedOcrWorker {
public:
    explicit ScopedOcrWorker(const QString &path) : m_saved(qgetenv("VORLANT_OCR_WORKER"))
    {
        qputenv("VORLANT_OCR_WORKER", path.toUtf8());
    }
    ~ScopedOcrWorker() { qputenv("VORLANT_OCR_WORKER", m_saved); }
    ScopedOcrWorker(const ScopedOcrWorker &) = delete;
    ScopedOcrWorker &operator=(const ScopedOcrWorker &) = delete;

private:
    QByteArray m_saved;
};
