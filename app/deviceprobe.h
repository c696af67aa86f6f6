#pragma once

#include <QString>

// The thin seam around the system calls discovery makes on video nodes, so
// tests can present nodes of their own.
class DeviceProbe {
public:
    virtual ~DeviceProbe() = default;
    // Returns a descriptor, or -1 when the node cannot be opened.
    virtual int open(const QString &path) = 0;
    // Returns 0 on success, -1 on failure (errno set), as ioctl(2) does.
    virtual int ioctl(int fd, unsigned long request, void *arg) = 0;
    virtual void close(int fd) = 0;
};

// The real probe: open(2) read-write, ioctl(2), close(2).
class SystemDeviceProbe : public DeviceProbe {
public:
    int open(const QString &path) override;
    int ioctl(int fd, unsigned long request, void *arg) override;
    void close(int fd) override;
};
