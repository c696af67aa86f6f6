#include "app/deviceprobe.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

int SystemDeviceProbe::open(const QString &path)
{
    return ::open(path.toLocal8Bit().constData(), O_RDWR);
}

int SystemDeviceProbe::ioctl(int fd, unsigned long request, void *arg)
{
    int r;
    do {
        r = ::ioctl(fd, request, arg);
    } while (r == -1 && errno == EINTR);
    return r;
}

void SystemDeviceProbe::close(int fd)
{
    ::close(fd);
}
