#include "app/discovery.h"

#include "app/deviceprobe.h"
#include "app/logging.h"
#include "app/mediafile.h"

#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <linux/videodev2.h>

namespace {

QString fixedText(const __u8 *field, size_t size)
{
    const char *text = reinterpret_cast<const char *>(field);
    return QString::fromUtf8(text, static_cast<int>(strnlen(text, size)));
}

} // namespace

QList<CameraInfo> discoverCameras(DeviceProbe &probe)
{
    QList<CameraInfo> found;
    for (int n = 0;; ++n) {
        CameraInfo info;
        info.index = n;
        info.path = QStringLiteral("/dev/video%1").arg(n);

        const int fd = probe.open(info.path);
        if (fd < 0) {
            qCDebug(lcCamera).noquote() << "open" << info.path << "error";
            break;
        }

        v4l2_capability cap;
        std::memset(&cap, 0, sizeof cap);
        if (probe.ioctl(fd, VIDIOC_QUERYCAP, &cap) == -1) {
            const QString reason = QString::fromLocal8Bit(std::strerror(errno));
            qCDebug(lcCamera).noquote() << QStringLiteral("ioctl VIDIOC_QUERYCAP: %1").arg(reason);
            probe.close(fd);
            break;
        }
        // `capabilities` describes the whole device, so a camera's metadata
        // node claims video capture there too; its own node's are in device_caps.
        const __u32 nodeCaps = (cap.capabilities & V4L2_CAP_DEVICE_CAPS) ? cap.device_caps : cap.capabilities;
        if (!(nodeCaps & V4L2_CAP_VIDEO_CAPTURE)) {
            qCDebug(lcCamera).noquote() << "open file is not video";
            probe.close(fd);
            break;
        }
        info.name = fixedText(cap.card, sizeof cap.card);
        qCDebug(lcCamera).noquote() << QStringLiteral("Driver    Name: %1").arg(info.name);

        for (__u32 i = 0;; ++i) {
            v4l2_fmtdesc fmt;
            std::memset(&fmt, 0, sizeof fmt);
            fmt.index = i;
            fmt.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
            if (probe.ioctl(fd, VIDIOC_ENUM_FMT, &fmt) == -1)
                break;
            qCDebug(lcCamera).noquote() << QStringLiteral("Picture Format: %1")
                                      .arg(fixedText(fmt.description, sizeof fmt.description));
            for (__u32 j = 0;; ++j) {
                v4l2_frmsizeenum size;
                std::memset(&size, 0, sizeof size);
                size.index = j;
                size.pixel_format = fmt.pixelformat;
                if (probe.ioctl(fd, VIDIOC_ENUM_FRAMESIZES, &size) == -1)
                    break;
                const int w = static_cast<int>(size.discrete.width);
                const int h = static_cast<int>(size.discrete.height);
                qCDebug(lcCamera).noquote() << QStringLiteral("width: %1 height: %2").arg(w).arg(h);
                info.sizes.append(QSize(w, h));
            }
        }
        probe.close(fd);
        found.append(info);
    }
    return found;
}

QList<CameraInfo> discoverCameraFiles(const QString &fileList)
{
    QList<CameraInfo> found;
    const QStringList entries = fileList.split(QLatin1Char(':'));
    for (int n = 0; n < entries.size(); ++n) {
        const QString &path = entries.at(n);
        const QSize size = mediaFrameSize(path);
        if (!size.isValid() || size.isEmpty()) {
            qCDebug(lcCamera).noquote() << "open" << path << "error";
            break;
        }
        CameraInfo info;
        info.index = n;
        info.path = path;
        info.name = QFileInfo(path).fileName();
        info.sizes.append(size);
        info.mediaFile = true;
        qCDebug(lcCamera).noquote() << QStringLiteral("Driver    Name: %1").arg(info.name);
        qCDebug(lcCamera).noquote() << QStringLiteral("width: %1 height: %2").arg(size.width()).arg(size.height());
        found.append(info);
    }
    return found;
}

QList<CameraInfo> discoverAll(DeviceProbe &probe, const std::optional<QString> &cameraFiles)
{
    const QString files = cameraFiles ? *cameraFiles : qEnvironmentVariable(kCameraFilesVariable);
    if (!files.isEmpty())
        return discoverCameraFiles(files);
    return discoverCameras(probe);
}
