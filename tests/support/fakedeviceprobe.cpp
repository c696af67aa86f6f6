#include "support/fakedeviceprobe.h"

#include <cerrno>
#include <cstring>
#include <linux/videodev2.h>

namespace {
void copyText(__u8 *field, size_t size, const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    std::memset(field, 0, size);
    std::memcpy(field, bytes.constData(), std::min(size - 1, static_cast<size_t>(bytes.size())));
}
} // namespace

int FakeDeviceProbe::open(const QString &path)
{
    opened << path;
    if (!nodes.contains(path) || !nodes[path].opens) {
        errno = ENOENT;
        return -1;
    }
    ++openHandles;
    m_handles[m_next] = path;
    return m_next++;
}

int FakeDeviceProbe::ioctl(int fd, unsigned long request, void *arg)
{
    const FakeNode &node = nodes[m_handles.value(fd)];
    if (request == VIDIOC_QUERYCAP) {
        if (node.queryCapFails) {
            errno = ENOTTY;
            return -1;
        }
        auto *cap = static_cast<v4l2_capability *>(arg);
        copyText(cap->card, sizeof cap->card, node.card);
        cap->capabilities = node.capture ? V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING : V4L2_CAP_VIDEO_OUTPUT;
        return 0;
    }
    if (request == VIDIOC_ENUM_FMT) {
        auto *fmt = static_cast<v4l2_fmtdesc *>(arg);
        if (fmt->type != V4L2_BUF_TYPE_VIDEO_CAPTURE || fmt->index >= static_cast<__u32>(node.formats.size())) {
            errno = EINVAL;
            return -1;
        }
        const FakeNode::Format &f = node.formats.at(static_cast<int>(fmt->index));
        copyText(fmt->description, sizeof fmt->description, f.description);
        fmt->pixelformat = f.fourcc;
        return 0;
    }
    if (request == VIDIOC_ENUM_FRAMESIZES) {
        auto *size = static_cast<v4l2_frmsizeenum *>(arg);
        for (const FakeNode::Format &f : node.formats) {
            if (f.fourcc != size->pixel_format)
                continue;
            if (size->index >= static_cast<__u32>(f.sizes.size()))
                break;
            size->type = V4L2_FRMSIZE_TYPE_DISCRETE;
            size->discrete.width = static_cast<__u32>(f.sizes.at(static_cast<int>(size->index)).width());
            size->discrete.height = static_cast<__u32>(f.sizes.at(static_cast<int>(size->index)).height());
            return 0;
        }
        errno = EINVAL;
        return -1;
    }
    errno = ENOTTY;
    return -1;
}

void FakeDeviceProbe::close(int fd)
{
    if (m_handles.remove(fd))
        --openHandles;
}
