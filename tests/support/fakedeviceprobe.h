#pragma once

#include "app/deviceprobe.h"

#include <QList>
#include <QMap>
#include <QSize>
#include <QStringList>

// Video nodes made up by a test: which exist, open, answer the capability
// query, capture video, and which formats and sizes they report.
struct FakeNode {
    struct Format {
        QString description;
        unsigned fourcc = 0;
        QList<QSize> sizes;
    };
    bool opens = true;
    bool queryCapFails = false;
    bool capture = true;
    QString card = QStringLiteral("Fake Camera");
    QList<Format> formats;
};

class FakeDeviceProbe : public DeviceProbe {
public:
    QMap<QString, FakeNode> nodes;
    QStringList opened;   // every path asked for, in order
    int openHandles = 0;  // open minus close

    int open(const QString &path) override;
    int ioctl(int fd, unsigned long request, void *arg) override;
    void close(int fd) override;

private:
    QMap<int, QString> m_handles;
    int m_next = 3;
};
