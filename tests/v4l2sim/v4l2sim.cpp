// A Video4Linux2 capture device played in user space. Loaded with LD_PRELOAD,
// it answers the calls a program makes on the /dev/videoN nodes described in
// $V4L2SIM_DIR/nodes and passes every other file to the real calls. Faults are
// commanded by appending lines to $V4L2SIM_DIR/control; what the program asked
// of each node is appended to $V4L2SIM_DIR/record.
//
// nodes, one per line:   /dev/video0 camera card="Desk Cam" formats=MJPG,YUYV sizes=640x480,1280x720 fps=30 seed=1
//                        /dev/video1 metadata        (the second node of a camera: not a capture device)
//                        /dev/video2 output          (a node without any capture capability)
//                        /dev/video3 denied          (open fails with EACCES)
//                        a node not listed is missing (ENOENT)
// control, appended:     reset | unplug PATH | replug PATH | stall PATH MS | resume PATH | busy PATH on|off
// record, one call a line: PATH CALL ARGS... = RESULT

#include "simframes.h"

// The interposed calls replace glibc's own symbols, not its inline wrappers.
#undef _FORTIFY_SOURCE

#include <dlfcn.h>
#include <fcntl.h>
#include <linux/videodev2.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/mman.h>
#include <sys/select.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

namespace {

// ---- the real calls -------------------------------------------------------

template <typename F> F realCall(F &slot, const char *name)
{
    if (!slot)
        slot = reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
    return slot;
}

using OpenFn = int (*)(const char *, int, ...);
using OpenatFn = int (*)(int, const char *, int, ...);
using CloseFn = int (*)(int);
using IoctlFn = int (*)(int, unsigned long, ...);
using MmapFn = void *(*)(void *, size_t, int, int, int, off_t);
using MunmapFn = int (*)(void *, size_t);
using SelectFn = int (*)(int, fd_set *, fd_set *, fd_set *, timeval *);
using PollFn = int (*)(pollfd *, nfds_t, int);
using ReadFn = ssize_t (*)(int, void *, size_t);

OpenFn g_open, g_open64;
OpenatFn g_openat, g_openat64;
CloseFn g_close;
IoctlFn g_ioctl;
MmapFn g_mmap;
MunmapFn g_munmap;
SelectFn g_select;
PollFn g_poll;
ReadFn g_read;

int realOpen(const char *path, int flags, mode_t mode = 0)
{
    return realCall(g_open, "open")(path, flags, mode);
}
int realClose(int fd)
{
    return realCall(g_close, "close")(fd);
}
void *realMmap(void *addr, size_t len, int prot, int flags, int fd, off_t off)
{
    return realCall(g_mmap, "mmap")(addr, len, prot, flags, fd, off);
}
int realMunmap(void *addr, size_t len)
{
    return realCall(g_munmap, "munmap")(addr, len);
}

// ---- time -----------------------------------------------------------------

using Ns = int64_t;
constexpr Ns kMs = 1000000;
constexpr Ns kForever = INT64_MAX / 2;
// Waits are cut into slices this long so that commands land promptly.
constexpr Ns kWaitSlice = 10 * kMs;

Ns now()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return Ns(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// ---- configuration --------------------------------------------------------

struct NodeConfig {
    std::string kind; // camera, metadata, output, denied
    std::string card = "Simulated Camera";
    std::vector<uint32_t> formats{V4L2_PIX_FMT_MJPEG, V4L2_PIX_FMT_YUYV};
    std::vector<std::pair<uint32_t, uint32_t>> sizes{{640, 480}, {1280, 720}};
    uint32_t fps = 30;
    unsigned seed = 1;
    std::string text; // the line it came from; a changed line is a new device
};

uint32_t fourccOf(const std::string &s)
{
    return s.size() == 4 ? v4l2_fourcc(s[0], s[1], s[2], s[3]) : 0;
}

std::string fourccName(uint32_t f)
{
    return std::string{char(f & 0xff), char((f >> 8) & 0xff), char((f >> 16) & 0xff), char((f >> 24) & 0xff)};
}

std::vector<std::string> splitList(const std::string &s, char sep)
{
    std::vector<std::string> out;
    std::stringstream in(s);
    std::string item;
    while (std::getline(in, item, sep))
        if (!item.empty())
            out.push_back(item);
    return out;
}

// Words separated by blanks; a double-quoted stretch keeps its blanks.
std::vector<std::string> words(const std::string &line)
{
    std::vector<std::string> out;
    std::string cur;
    bool quoted = false, any = false;
    for (char c : line) {
        if (c == '"') {
            quoted = !quoted;
            any = true;
        } else if (!quoted && (c == ' ' || c == '\t')) {
            if (any)
                out.push_back(cur);
            cur.clear();
            any = false;
        } else {
            cur += c;
            any = true;
        }
    }
    if (any)
        out.push_back(cur);
    return out;
}

std::string readWholeFile(const std::string &path, off_t from = 0)
{
    std::string out;
    const int fd = realOpen(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return out;
    if (from > 0)
        lseek(fd, from, SEEK_SET);
    char buf[4096];
    ssize_t n;
    while ((n = realCall(g_read, "read")(fd, buf, sizeof buf)) > 0)
        out.append(buf, size_t(n));
    realClose(fd);
    return out;
}

std::map<std::string, NodeConfig> parseNodes(const std::string &text)
{
    std::map<std::string, NodeConfig> nodes;
    for (const std::string &line : splitList(text, '\n')) {
        const std::vector<std::string> w = words(line);
        if (w.size() < 2 || w[0][0] == '#')
            continue;
        NodeConfig c;
        c.kind = w[1];
        c.text = line;
        for (size_t i = 2; i < w.size(); ++i) {
            const size_t eq = w[i].find('=');
            const std::string key = w[i].substr(0, eq), value = eq == std::string::npos ? "" : w[i].substr(eq + 1);
            if (key == "card") {
                c.card = value;
            } else if (key == "formats") {
                c.formats.clear();
                for (const std::string &f : splitList(value, ','))
                    c.formats.push_back(fourccOf(f));
            } else if (key == "sizes") {
                c.sizes.clear();
                for (const std::string &s : splitList(value, ',')) {
                    unsigned wdt = 0, hgt = 0;
                    if (std::sscanf(s.c_str(), "%ux%u", &wdt, &hgt) == 2)
                        c.sizes.emplace_back(wdt, hgt);
                }
            } else if (key == "fps") {
                c.fps = uint32_t(std::max(1, std::atoi(value.c_str())));
            } else if (key == "seed") {
                c.seed = unsigned(std::atoi(value.c_str()));
            }
        }
        nodes[w[0]] = c;
    }
    return nodes;
}

// ---- the device model -----------------------------------------------------

struct OpenFile;

// The exposure, automatic exposure and focus controls of a typical USB camera.
struct Control {
    uint32_t id;
    const char *name;
    uint32_t type;
    int32_t min, max, def;
    uint32_t menuMask; // valid menu entries, for menus
};
const Control kControls[] = {
    {V4L2_CID_EXPOSURE_AUTO, "exposure_auto", V4L2_CTRL_TYPE_MENU, 0, 3, V4L2_EXPOSURE_APERTURE_PRIORITY,
     (1u << V4L2_EXPOSURE_MANUAL) | (1u << V4L2_EXPOSURE_APERTURE_PRIORITY)},
    {V4L2_CID_EXPOSURE_ABSOLUTE, "exposure_absolute", V4L2_CTRL_TYPE_INTEGER, 3, 2047, 250, 0},
    {V4L2_CID_FOCUS_AUTO, "focus_auto", V4L2_CTRL_TYPE_BOOLEAN, 0, 1, 1, 0},
};

const Control *findControl(uint32_t id)
{
    for (const Control &c : kControls)
        if (c.id == id)
            return &c;
    return nullptr;
}

struct Buffer {
    enum State { Dequeued, Queued, Done } state = Dequeued;
    uint32_t bytesused = 0;
    uint32_t sequence = 0;
    timeval timestamp{};
    int mappings = 0;
};

// One plugged-in device behind a node. An unplug kills it; a replug brings a new one.
struct Device {
    std::string path;
    NodeConfig config;
    int generation = 0;
    bool dead = false;

    uint32_t pixelFormat = 0, width = 0, height = 0, fps = 0;
    std::map<uint32_t, int32_t> controls;

    OpenFile *owner = nullptr; // the descriptor that holds the buffers
    std::vector<Buffer> buffers;
    size_t bufferLength = 0, bufferStride = 0, memoryLength = 0;
    int memfd = -1;
    uint8_t *memory = nullptr;
    bool streaming = false;
    std::deque<uint32_t> queued, done;
    Ns nextFrame = 0;
    uint32_t sequence = 0;
    uint32_t dequeued = 0; // frames handed out since stream on
    std::vector<uint8_t> frame;

    bool isCamera() const { return config.kind == "camera"; }
    Ns period() const { return 1000000000 / std::max<uint32_t>(fps, 1); }
};

struct OpenFile {
    int fd;
    std::shared_ptr<Device> device;
};

struct Faults {
    bool unplugged = false;
    bool streamOnBusy = false;
    Ns stallUntil = 0;
};

struct Mapping {
    std::weak_ptr<Device> device;
    uint32_t index;
};

constexpr int kMaxFd = 4096;

struct Sim {
    std::recursive_mutex mutex;
    std::string dir;
    std::map<std::string, std::shared_ptr<Device>> live;
    std::map<std::string, Faults> faults;
    std::map<int, std::unique_ptr<OpenFile>> files;
    std::map<void *, Mapping> mappings;
    std::map<std::string, int> generations;
    off_t controlRead = 0;
    int recordFd = -1;
};

// Lock-free fast paths for the calls every program makes all the time.
std::atomic<bool> g_isSimFd[kMaxFd];
std::atomic<int> g_simFiles{0};
std::atomic<int> g_simMappings{0};

Sim &sim()
{
    static Sim *s = [] {
        auto *made = new Sim;
        if (const char *d = std::getenv("V4L2SIM_DIR"))
            made->dir = d;
        return made;
    }();
    return *s;
}

bool isSimFd(int fd)
{
    return fd >= 0 && fd < kMaxFd && g_isSimFd[fd].load(std::memory_order_acquire);
}

bool isVideoPath(const char *path)
{
    if (!path || std::strncmp(path, "/dev/video", 10) != 0 || !path[10])
        return false;
    for (const char *p = path + 10; *p; ++p)
        if (*p < '0' || *p > '9')
            return false;
    return !sim().dir.empty();
}

const char *errnoName(int e)
{
    switch (e) {
    case 0: return "ok";
    case EBUSY: return "EBUSY";
    case EINVAL: return "EINVAL";
    case ENODEV: return "ENODEV";
    case ENOENT: return "ENOENT";
    case EACCES: return "EACCES";
    case ENOTTY: return "ENOTTY";
    case EAGAIN: return "EAGAIN";
    case ERANGE: return "ERANGE";
    default: return "EOTHER";
    }
}

void record(const std::string &path, const std::string &line)
{
    Sim &s = sim();
    if (s.recordFd < 0)
        s.recordFd = realOpen((s.dir + "/record").c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    const std::string text = path + " " + line + "\n";
    if (s.recordFd >= 0 && write(s.recordFd, text.data(), text.size()) < 0)
        std::perror("v4l2sim record");
}

void freeQueue(Device &d)
{
    d.streaming = false;
    d.queued.clear();
    d.done.clear();
    d.buffers.clear();
    if (d.memory)
        realMunmap(d.memory, d.memoryLength);
    if (d.memfd >= 0)
        realClose(d.memfd);
    d.memory = nullptr;
    d.memfd = -1;
    d.owner = nullptr;
}

void markUnplugged(Device &d)
{
    d.dead = true;
    d.streaming = false;
}

void processControl()
{
    Sim &s = sim();
    struct stat st;
    if (stat((s.dir + "/control").c_str(), &st) != 0 || st.st_size <= s.controlRead)
        return;
    const std::string text = readWholeFile(s.dir + "/control", s.controlRead);
    const size_t end = text.rfind('\n');
    if (end == std::string::npos)
        return;
    s.controlRead += off_t(end + 1);
    for (const std::string &line : splitList(text.substr(0, end), '\n')) {
        const std::vector<std::string> w = words(line);
        if (w.size() == 1 && w[0] == "reset") {
            // Every node plugged in, without faults; descriptors already open keep their device.
            s.live.clear();
            s.faults.clear();
            continue;
        }
        if (w.size() < 2)
            continue;
        Faults &f = s.faults[w[1]];
        const auto it = s.live.find(w[1]);
        if (w[0] == "unplug") {
            f.unplugged = true;
            if (it != s.live.end()) {
                markUnplugged(*it->second);
                s.live.erase(it);
            }
        } else if (w[0] == "replug") {
            f.unplugged = false;
        } else if (w[0] == "stall" && w.size() > 2) {
            f.stallUntil = now() + Ns(std::atoll(w[2].c_str())) * kMs;
        } else if (w[0] == "resume") {
            f.stallUntil = 0;
        } else if (w[0] == "busy" && w.size() > 2) {
            f.streamOnBusy = w[2] == "on";
        }
        record(w[1], "COMMAND " + line);
    }
}

// Fills queued buffers with the frames that have come due, like the camera
// does while it streams; frames due while no buffer is queued are dropped.
void produce(Device &d, Ns t)
{
    if (!d.streaming || d.dead || t < d.nextFrame)
        return;
    const Ns period = d.period();
    if (t - d.nextFrame > 8 * period)
        d.nextFrame = t - (t - d.nextFrame) % period;
    const Faults &f = sim().faults[d.path];
    while (d.nextFrame <= t) {
        if (f.stallUntil <= d.nextFrame && !d.queued.empty()) {
            const uint32_t i = d.queued.front();
            d.queued.pop_front();
            Buffer &b = d.buffers[i];
            b.bytesused = uint32_t(std::min(d.frame.size(), d.bufferLength));
            std::memcpy(d.memory + i * d.bufferStride, d.frame.data(), b.bytesused);
            b.sequence = d.sequence;
            b.timestamp = {time_t(d.nextFrame / 1000000000), suseconds_t(d.nextFrame % 1000000000 / 1000)};
            b.state = Buffer::Done;
            d.done.push_back(i);
        }
        ++d.sequence;
        d.nextFrame += period;
    }
}

// The next moment a waiting caller should look again.
Ns nextEvent(const Device &d)
{
    if (!d.streaming || d.dead || d.queued.empty())
        return kForever;
    return std::max(d.nextFrame, sim().faults[d.path].stallUntil);
}

// poll(2) events of a descriptor, as the kernel's buffer queue reports them.
short readiness(OpenFile &f, Ns t)
{
    Device &d = *f.device;
    if (d.dead)
        return POLLERR | POLLHUP | POLLPRI;
    if (!d.streaming || (d.owner && d.owner != &f))
        return POLLERR;
    produce(d, t);
    return d.done.empty() ? 0 : (POLLIN | POLLRDNORM);
}

OpenFile *fileOf(int fd)
{
    const auto it = sim().files.find(fd);
    return it == sim().files.end() ? nullptr : it->second.get();
}

int fail(int e)
{
    errno = e;
    return -1;
}

// The largest frame of a format: Motion-JPEG frames are given the room of an uncompressed one.
uint32_t sizeImage(uint32_t width, uint32_t height)
{
    return width * height * 2;
}

void fillFormat(uint32_t pixelFormat, uint32_t width, uint32_t height, v4l2_format &f)
{
    std::memset(&f.fmt, 0, sizeof f.fmt);
    v4l2_pix_format &p = f.fmt.pix;
    p.width = width;
    p.height = height;
    p.pixelformat = pixelFormat;
    p.field = V4L2_FIELD_NONE;
    p.bytesperline = pixelFormat == V4L2_PIX_FMT_YUYV ? width * 2 : 0;
    p.sizeimage = sizeImage(width, height);
    p.colorspace = V4L2_COLORSPACE_SRGB;
}

// The supported format and size closest to what is asked, as drivers choose.
void adjustFormat(const Device &d, uint32_t &pixelFormat, uint32_t &w, uint32_t &h)
{
    const auto &fs = d.config.formats;
    if (std::find(fs.begin(), fs.end(), pixelFormat) == fs.end())
        pixelFormat = fs.empty() ? 0 : fs.front();
    int64_t best = INT64_MAX;
    std::pair<uint32_t, uint32_t> chosen{w, h};
    for (const auto &s : d.config.sizes) {
        const int64_t diff = std::llabs(int64_t(s.first) - w) + std::llabs(int64_t(s.second) - h);
        if (diff < best) {
            best = diff;
            chosen = s;
        }
    }
    w = chosen.first;
    h = chosen.second;
}

void copyText(uint8_t *field, size_t size, const std::string &text)
{
    std::memset(field, 0, size);
    std::memcpy(field, text.data(), std::min(size - 1, text.size()));
}

std::string describeRequest(unsigned long request)
{
    char hex[32];
    std::snprintf(hex, sizeof hex, "0x%lx", request);
    return hex;
}

// Waits, without holding the lock, until one of the descriptors is ready, the
// deadline passes, or a real descriptor (checked by `realWait`) is ready.
// Returns true when the deadline passed.
template <typename Ready, typename RealWait>
bool waitForReady(const std::vector<int> &fds, Ns deadline, Ready ready, RealWait realWait)
{
    for (;;) {
        Ns wake = deadline;
        {
            std::lock_guard<std::recursive_mutex> lock(sim().mutex);
            processControl();
            const Ns t = now();
            bool any = false;
            for (int fd : fds) {
                OpenFile *f = fileOf(fd);
                if (!f)
                    continue;
                if (readiness(*f, t))
                    any = true;
                wake = std::min(wake, nextEvent(*f->device));
            }
            if (any && ready())
                return false;
        }
        const Ns t = now();
        if (t >= deadline)
            return true;
        const Ns slice = std::clamp<Ns>(std::min(wake, deadline) - t, 0, kWaitSlice);
        if (realWait(int(slice / kMs) + (slice % kMs ? 1 : 0)))
            return false;
    }
}

int simIoctl(OpenFile &f, unsigned long request, void *arg);
int simPoll(pollfd *fds, nfds_t n, int timeout);
int simSelect(int nfds, fd_set *rd, fd_set *wr, fd_set *ex, timeval *tv);

// The mode argument of open(2) exists only when the flags create a file.
mode_t modeArgument(int flags, va_list ap)
{
    return (flags & (O_CREAT | __O_TMPFILE)) ? mode_t(va_arg(ap, int)) : 0;
}

int simOpen(const char *path, int flags)
{
    Sim &s = sim();
    std::lock_guard<std::recursive_mutex> lock(s.mutex);
    processControl();
    const std::map<std::string, NodeConfig> nodes = parseNodes(readWholeFile(s.dir + "/nodes"));
    const auto cfg = nodes.find(path);
    const int err = cfg == nodes.end() || s.faults[path].unplugged ? ENOENT
                    : cfg->second.kind == "denied"                  ? EACCES
                                                                    : 0;
    if (err) {
        record(path, std::string("OPEN = ") + errnoName(err));
        return fail(err);
    }
    std::shared_ptr<Device> &dev = s.live[path];
    if (!dev || dev->config.text != cfg->second.text) {
        dev = std::make_shared<Device>();
        dev->path = path;
        dev->config = cfg->second;
        dev->generation = ++s.generations[path];
        dev->pixelFormat = dev->config.formats.empty() ? 0 : dev->config.formats.front();
        if (!dev->config.sizes.empty()) {
            dev->width = dev->config.sizes.front().first;
            dev->height = dev->config.sizes.front().second;
        }
        dev->fps = dev->config.fps;
        for (const Control &c : kControls)
            dev->controls[c.id] = c.def;
    }
    const int fd = eventfd(0, EFD_CLOEXEC | ((flags & O_NONBLOCK) ? EFD_NONBLOCK : 0));
    if (fd < 0)
        return -1;
    if (fd >= kMaxFd) {
        realClose(fd);
        return fail(EMFILE);
    }
    s.files[fd] = std::make_unique<OpenFile>(OpenFile{fd, dev});
    g_isSimFd[fd].store(true, std::memory_order_release);
    ++g_simFiles;
    record(path, "OPEN = ok");
    return fd;
}

int simClose(int fd)
{
    Sim &s = sim();
    {
        std::lock_guard<std::recursive_mutex> lock(s.mutex);
        OpenFile *f = fileOf(fd);
        if (f) {
            if (f->device->owner == f)
                freeQueue(*f->device);
            record(f->device->path, "CLOSE");
            g_isSimFd[fd].store(false, std::memory_order_release);
            --g_simFiles;
            s.files.erase(fd);
        }
    }
    return realClose(fd);
}

int simIoctl(OpenFile &f, unsigned long request, void *arg)
{
    Device &d = *f.device;
    const std::string &path = d.path;
    if (d.dead)
        return fail(ENODEV);
    const bool other = d.owner && d.owner != &f;
    switch (request) {
    case VIDIOC_QUERYCAP: {
        auto *cap = static_cast<v4l2_capability *>(arg);
        std::memset(cap, 0, sizeof *cap);
        copyText(cap->driver, sizeof cap->driver, "v4l2sim");
        copyText(cap->card, sizeof cap->card, d.config.card);
        copyText(cap->bus_info, sizeof cap->bus_info, "usb-sim-" + path.substr(10));
        cap->version = 0x060100;
        // Like a USB camera: the device as a whole captures video and metadata,
        // and each node says in device_caps which of the two it is.
        const uint32_t node = d.config.kind == "camera"     ? V4L2_CAP_VIDEO_CAPTURE
                              : d.config.kind == "metadata" ? V4L2_CAP_META_CAPTURE
                                                            : V4L2_CAP_VIDEO_OUTPUT;
        cap->device_caps = node | V4L2_CAP_STREAMING | V4L2_CAP_EXT_PIX_FORMAT;
        cap->capabilities = (d.config.kind == "output" ? node : V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_META_CAPTURE) |
                            V4L2_CAP_STREAMING | V4L2_CAP_EXT_PIX_FORMAT | V4L2_CAP_DEVICE_CAPS;
        record(path, "QUERYCAP");
        return 0;
    }
    case VIDIOC_ENUM_FMT: {
        auto *fmt = static_cast<v4l2_fmtdesc *>(arg);
        if (!d.isCamera() || fmt->type != V4L2_BUF_TYPE_VIDEO_CAPTURE || fmt->index >= d.config.formats.size())
            return fail(EINVAL);
        const uint32_t pf = d.config.formats[fmt->index];
        std::memset(fmt->description, 0, sizeof fmt->description);
        copyText(fmt->description, sizeof fmt->description,
                 pf == V4L2_PIX_FMT_MJPEG ? "Motion-JPEG" : pf == V4L2_PIX_FMT_YUYV ? "YUYV 4:2:2" : fourccName(pf));
        fmt->pixelformat = pf;
        fmt->flags = pf == V4L2_PIX_FMT_MJPEG ? V4L2_FMT_FLAG_COMPRESSED : 0;
        return 0;
    }
    case VIDIOC_ENUM_FRAMESIZES: {
        auto *fs = static_cast<v4l2_frmsizeenum *>(arg);
        const auto &formats = d.config.formats;
        if (!d.isCamera() || std::find(formats.begin(), formats.end(), fs->pixel_format) == formats.end() ||
            fs->index >= d.config.sizes.size())
            return fail(EINVAL);
        fs->type = V4L2_FRMSIZE_TYPE_DISCRETE;
        fs->discrete.width = d.config.sizes[fs->index].first;
        fs->discrete.height = d.config.sizes[fs->index].second;
        return 0;
    }
    case VIDIOC_ENUM_FRAMEINTERVALS: {
        auto *fi = static_cast<v4l2_frmivalenum *>(arg);
        if (!d.isCamera() || fi->index > 0)
            return fail(EINVAL);
        fi->type = V4L2_FRMIVAL_TYPE_DISCRETE;
        fi->discrete = {1, d.config.fps};
        return 0;
    }
    case VIDIOC_G_FMT: {
        auto *fmt = static_cast<v4l2_format *>(arg);
        if (!d.isCamera() || fmt->type != V4L2_BUF_TYPE_VIDEO_CAPTURE)
            return fail(EINVAL);
        fillFormat(d.pixelFormat, d.width, d.height, *fmt);
        return 0;
    }
    case VIDIOC_TRY_FMT:
    case VIDIOC_S_FMT: {
        auto *fmt = static_cast<v4l2_format *>(arg);
        if (!d.isCamera() || fmt->type != V4L2_BUF_TYPE_VIDEO_CAPTURE)
            return fail(EINVAL);
        uint32_t pf = fmt->fmt.pix.pixelformat, w = fmt->fmt.pix.width, h = fmt->fmt.pix.height;
        const std::string asked = "S_FMT " + fourccName(pf) + " " + std::to_string(w) + "x" + std::to_string(h);
        if (request == VIDIOC_S_FMT && (other || !d.buffers.empty())) {
            record(path, asked + " = EBUSY");
            return fail(EBUSY);
        }
        adjustFormat(d, pf, w, h);
        fillFormat(pf, w, h, *fmt);
        if (request == VIDIOC_S_FMT) {
            if (pf != d.pixelFormat || w != d.width || h != d.height)
                d.fps = d.config.fps; // a new format resets the frame rate
            d.pixelFormat = pf;
            d.width = w;
            d.height = h;
            record(path, asked + " = " + fourccName(pf) + " " + std::to_string(w) + "x" + std::to_string(h));
        }
        return 0;
    }
    case VIDIOC_G_PARM:
    case VIDIOC_S_PARM: {
        auto *parm = static_cast<v4l2_streamparm *>(arg);
        if (!d.isCamera() || parm->type != V4L2_BUF_TYPE_VIDEO_CAPTURE)
            return fail(EINVAL);
        v4l2_captureparm &c = parm->parm.capture;
        if (request == VIDIOC_S_PARM) {
            const v4l2_fract t = c.timeperframe;
            char rate[32];
            std::snprintf(rate, sizeof rate, "%g", t.numerator ? double(t.denominator) / t.numerator : 0.0);
            const std::string asked = std::string("S_PARM ") + rate;
            if (other) {
                record(path, asked + " = EBUSY");
                return fail(EBUSY);
            }
            d.fps = d.config.fps; // the only rate this camera has
            record(path, asked + " = " + std::to_string(d.fps));
        }
        std::memset(&c, 0, sizeof c);
        c.capability = V4L2_CAP_TIMEPERFRAME;
        c.timeperframe = {1, d.fps};
        c.readbuffers = 0;
        return 0;
    }
    case VIDIOC_G_INPUT:
        *static_cast<int *>(arg) = 0;
        return 0;
    case VIDIOC_S_INPUT:
        return *static_cast<int *>(arg) == 0 ? 0 : fail(EINVAL);
    case VIDIOC_ENUMINPUT: {
        auto *in = static_cast<v4l2_input *>(arg);
        if (in->index != 0)
            return fail(EINVAL);
        const uint32_t index = in->index;
        std::memset(in, 0, sizeof *in);
        in->index = index;
        copyText(in->name, sizeof in->name, "Camera 1");
        in->type = V4L2_INPUT_TYPE_CAMERA;
        return 0;
    }
    case VIDIOC_REQBUFS: {
        auto *req = static_cast<v4l2_requestbuffers *>(arg);
        const std::string asked = "REQBUFS " + std::to_string(req->count);
        if (!d.isCamera() || req->type != V4L2_BUF_TYPE_VIDEO_CAPTURE || req->memory != V4L2_MEMORY_MMAP)
            return fail(EINVAL);
        bool mapped = false;
        for (const Buffer &b : d.buffers)
            mapped = mapped || b.mappings > 0;
        if (other || d.streaming || mapped) {
            record(path, asked + " = EBUSY");
            return fail(EBUSY);
        }
        freeQueue(d);
        if (req->count > 0) {
            const uint32_t count = std::clamp<uint32_t>(req->count, 2, 32);
            const size_t page = size_t(sysconf(_SC_PAGESIZE));
            d.bufferLength = sizeImage(d.width, d.height);
            d.bufferStride = (d.bufferLength + page - 1) / page * page;
            d.memoryLength = d.bufferStride * count;
            d.memfd = memfd_create("v4l2sim", MFD_CLOEXEC);
            if (d.memfd < 0 || ftruncate(d.memfd, off_t(d.memoryLength)) != 0)
                return fail(ENOMEM);
            d.memory = static_cast<uint8_t *>(
                realMmap(nullptr, d.memoryLength, PROT_READ | PROT_WRITE, MAP_SHARED, d.memfd, 0));
            d.buffers.assign(count, Buffer{});
            d.owner = &f;
            req->count = count;
        }
        record(path, asked + " = " + std::to_string(req->count));
        return 0;
    }
    case VIDIOC_QUERYBUF:
    case VIDIOC_QBUF:
    case VIDIOC_DQBUF: {
        auto *buf = static_cast<v4l2_buffer *>(arg);
        if (buf->type != V4L2_BUF_TYPE_VIDEO_CAPTURE)
            return fail(EINVAL);
        if (other)
            return fail(EBUSY);
        if (request == VIDIOC_QBUF) {
            if (buf->index >= d.buffers.size() || d.buffers[buf->index].state != Buffer::Dequeued)
                return fail(EINVAL);
            d.buffers[buf->index].state = Buffer::Queued;
            d.queued.push_back(buf->index);
        } else if (request == VIDIOC_DQBUF) {
            if (!d.streaming)
                return fail(EINVAL);
            produce(d, now());
            if (d.done.empty())
                return fail(EAGAIN); // a blocking descriptor has waited in simIoctlBlocking
            buf->index = d.done.front();
            d.done.pop_front();
            d.buffers[buf->index].state = Buffer::Dequeued;
            // The first frame of a stream, then one a second or so, shows that frames flow.
            if (++d.dequeued == 1 || d.dequeued % 30 == 0)
                record(path, "DQBUF " + std::to_string(d.dequeued));
        } else if (buf->index >= d.buffers.size()) {
            return fail(EINVAL);
        }
        const Buffer &b = d.buffers[buf->index];
        buf->memory = V4L2_MEMORY_MMAP;
        buf->m.offset = uint32_t(buf->index * d.bufferStride);
        buf->length = uint32_t(d.bufferLength);
        buf->bytesused = b.bytesused;
        buf->sequence = b.sequence;
        buf->timestamp = b.timestamp;
        buf->field = V4L2_FIELD_NONE;
        buf->flags = V4L2_BUF_FLAG_TIMESTAMP_MONOTONIC | (b.mappings ? V4L2_BUF_FLAG_MAPPED : 0) |
                     (b.state == Buffer::Queued ? V4L2_BUF_FLAG_QUEUED : 0) |
                     (b.state == Buffer::Done ? V4L2_BUF_FLAG_DONE : 0);
        return 0;
    }
    case VIDIOC_STREAMON:
    case VIDIOC_STREAMOFF: {
        if (*static_cast<int *>(arg) != V4L2_BUF_TYPE_VIDEO_CAPTURE)
            return fail(EINVAL);
        const std::string name = request == VIDIOC_STREAMON ? "STREAMON" : "STREAMOFF";
        const int err = other ? EBUSY
                        : request == VIDIOC_STREAMON && sim().faults[path].streamOnBusy ? EBUSY
                        : d.buffers.empty()                                           ? EINVAL
                                                                                      : 0;
        record(path, name + " = " + errnoName(err));
        if (err)
            return fail(err);
        if (request == VIDIOC_STREAMOFF) {
            d.streaming = false;
            d.queued.clear();
            d.done.clear();
            for (Buffer &b : d.buffers)
                b.state = Buffer::Dequeued;
        } else if (!d.streaming) {
            d.frame = encodeDeskFrame(d.pixelFormat, int(d.width), int(d.height),
                                      d.config.seed + unsigned(d.generation) * 7919u);
            d.streaming = true;
            d.dequeued = 0;
            d.nextFrame = now() + d.period();
        }
        return 0;
    }
    case VIDIOC_QUERYCTRL: {
        auto *q = static_cast<v4l2_queryctrl *>(arg);
        const Control *c = findControl(q->id);
        if (!c || !d.isCamera())
            return fail(EINVAL);
        std::memset(q, 0, sizeof *q);
        q->id = c->id;
        q->type = c->type;
        copyText(q->name, sizeof q->name, c->name);
        q->minimum = c->min;
        q->maximum = c->max;
        q->step = 1;
        q->default_value = c->def;
        return 0;
    }
    case VIDIOC_QUERYMENU: {
        auto *m = static_cast<v4l2_querymenu *>(arg);
        const Control *c = findControl(m->id);
        if (!c || c->type != V4L2_CTRL_TYPE_MENU || m->index > 31 || !(c->menuMask & (1u << m->index)))
            return fail(EINVAL);
        copyText(m->name, sizeof m->name, m->index == V4L2_EXPOSURE_MANUAL ? "Manual Mode" : "Aperture Priority Mode");
        return 0;
    }
    case VIDIOC_G_CTRL:
    case VIDIOC_S_CTRL: {
        auto *ctl = static_cast<v4l2_control *>(arg);
        const Control *c = findControl(ctl->id);
        if (!c || !d.isCamera())
            return fail(EINVAL);
        if (request == VIDIOC_G_CTRL) {
            ctl->value = d.controls[c->id];
            return 0;
        }
        const std::string asked = std::string("S_CTRL ") + c->name + " " + std::to_string(ctl->value);
        if (c->type == V4L2_CTRL_TYPE_MENU &&
            (ctl->value < c->min || ctl->value > c->max || !(c->menuMask & (1u << ctl->value)))) {
            record(path, asked + " = EINVAL");
            return fail(EINVAL);
        }
        d.controls[c->id] = ctl->value = std::clamp(ctl->value, c->min, c->max);
        record(path, asked + " = " + std::to_string(ctl->value));
        return 0;
    }
    default:
        record(path, "UNKNOWN " + describeRequest(request) + " = ENOTTY");
        return fail(ENOTTY);
    }
}

} // namespace

// ---- the interposed calls ---------------------------------------------------

extern "C" {

// Lets a test find out whether it runs with the simulator loaded.
int v4l2sim_loaded()
{
    return 1;
}

int open(const char *path, int flags, ...)
{
    va_list ap;
    va_start(ap, flags);
    const mode_t mode = modeArgument(flags, ap);
    va_end(ap);
    return isVideoPath(path) ? simOpen(path, flags) : realCall(g_open, "open")(path, flags, mode);
}

int open64(const char *path, int flags, ...)
{
    va_list ap;
    va_start(ap, flags);
    const mode_t mode = modeArgument(flags, ap);
    va_end(ap);
    return isVideoPath(path) ? simOpen(path, flags) : realCall(g_open64, "open64")(path, flags, mode);
}

int openat(int dirfd, const char *path, int flags, ...)
{
    va_list ap;
    va_start(ap, flags);
    const mode_t mode = modeArgument(flags, ap);
    va_end(ap);
    return isVideoPath(path) ? simOpen(path, flags) : realCall(g_openat, "openat")(dirfd, path, flags, mode);
}

int openat64(int dirfd, const char *path, int flags, ...)
{
    va_list ap;
    va_start(ap, flags);
    const mode_t mode = modeArgument(flags, ap);
    va_end(ap);
    return isVideoPath(path) ? simOpen(path, flags) : realCall(g_openat64, "openat64")(dirfd, path, flags, mode);
}

int close(int fd)
{
    if (isSimFd(fd))
        return simClose(fd);
    return realClose(fd);
}

int ioctl(int fd, unsigned long request, ...)
{
    va_list ap;
    va_start(ap, request);
    void *arg = va_arg(ap, void *);
    va_end(ap);
    if (!isSimFd(fd))
        return realCall(g_ioctl, "ioctl")(fd, request, arg);

    const bool blocking = !(fcntl(fd, F_GETFL) & O_NONBLOCK);
    std::unique_lock<std::recursive_mutex> lock(sim().mutex);
    processControl();
    OpenFile *f = fileOf(fd);
    if (!f)
        return fail(EBADF);
    int r = simIoctl(*f, request, arg);
    if (r == 0 || errno != EAGAIN || request != VIDIOC_DQBUF || !blocking)
        return r;
    // A blocking dequeue waits for the next frame as long as it takes.
    lock.unlock();
    waitForReady({fd}, kForever, [] { return true; },
                 [](int ms) {
                     usleep(useconds_t(ms) * 1000);
                     return false;
                 });
    lock.lock();
    f = fileOf(fd);
    return f ? simIoctl(*f, request, arg) : fail(EBADF);
}

void *mmap(void *addr, size_t len, int prot, int flags, int fd, off_t off) noexcept
{
    if (!isSimFd(fd))
        return realMmap(addr, len, prot, flags, fd, off);
    std::lock_guard<std::recursive_mutex> lock(sim().mutex);
    OpenFile *f = fileOf(fd);
    if (!f || f->device->dead) {
        errno = ENODEV;
        return MAP_FAILED;
    }
    Device &d = *f->device;
    const uint32_t index = d.bufferStride ? uint32_t(off / off_t(d.bufferStride)) : 0;
    if (d.buffers.empty() || index >= d.buffers.size() || off % off_t(d.bufferStride) != 0 || len > d.bufferStride) {
        errno = EINVAL;
        return MAP_FAILED;
    }
    void *p = realMmap(addr, len, prot, flags, d.memfd, off);
    if (p != MAP_FAILED) {
        ++d.buffers[index].mappings;
        sim().mappings[p] = Mapping{f->device, index};
        ++g_simMappings;
    }
    return p;
}

void *mmap64(void *addr, size_t len, int prot, int flags, int fd, off_t off) noexcept
{
    return mmap(addr, len, prot, flags, fd, off);
}

int munmap(void *addr, size_t len) noexcept
{
    if (g_simMappings.load() > 0) {
        std::lock_guard<std::recursive_mutex> lock(sim().mutex);
        const auto it = sim().mappings.find(addr);
        if (it != sim().mappings.end()) {
            if (auto d = it->second.device.lock())
                if (it->second.index < d->buffers.size())
                    --d->buffers[it->second.index].mappings;
            sim().mappings.erase(it);
            --g_simMappings;
        }
    }
    return realMunmap(addr, len);
}

ssize_t read(int fd, void *buf, size_t count)
{
    if (!isSimFd(fd))
        return realCall(g_read, "read")(fd, buf, count);
    std::lock_guard<std::recursive_mutex> lock(sim().mutex);
    OpenFile *f = fileOf(fd);
    // Streaming I/O only, as the capabilities say.
    return fail(f && f->device->dead ? ENODEV : EINVAL);
}

int poll(pollfd *fds, nfds_t n, int timeout)
{
    return simPoll(fds, n, timeout);
}

int select(int nfds, fd_set *rd, fd_set *wr, fd_set *ex, timeval *tv)
{
    return simSelect(nfds, rd, wr, ex, tv);
}

} // extern "C"

namespace {

int simPoll(pollfd *fds, nfds_t n, int timeout)
{
    PollFn real = realCall(g_poll, "poll");
    std::vector<int> sims;
    if (g_simFiles.load() > 0)
        for (nfds_t i = 0; i < n; ++i)
            if (isSimFd(fds[i].fd))
                sims.push_back(fds[i].fd);
    if (sims.empty())
        return real(fds, n, timeout);

    // The real descriptors are polled with the simulated ones masked out.
    std::vector<pollfd> others(fds, fds + n);
    for (pollfd &p : others)
        if (isSimFd(p.fd))
            p.fd = -1;
    int result = 0;
    const Ns deadline = timeout < 0 ? kForever : now() + Ns(timeout) * kMs;
    const auto gather = [&] {
        const int r = real(others.data(), n, 0);
        if (r < 0)
            return false;
        result = 0;
        const Ns t = now();
        for (nfds_t i = 0; i < n; ++i) {
            OpenFile *f = isSimFd(fds[i].fd) ? fileOf(fds[i].fd) : nullptr;
            fds[i].revents = f ? short(readiness(*f, t) & (fds[i].events | POLLERR | POLLHUP)) : others[i].revents;
            result += fds[i].revents ? 1 : 0;
        }
        return true;
    };
    bool realReady = false;
    const bool timedOut = waitForReady(sims, deadline, gather, [&](int ms) {
        const int r = real(others.data(), n, ms);
        realReady = r != 0;
        return realReady;
    });
    if (realReady || timedOut) {
        std::lock_guard<std::recursive_mutex> lock(sim().mutex);
        gather();
    }
    return result;
}

int simSelect(int nfds, fd_set *rd, fd_set *wr, fd_set *ex, timeval *tv)
{
    SelectFn real = realCall(g_select, "select");
    std::vector<int> sims;
    if (g_simFiles.load() > 0)
        for (int fd = 0; fd < nfds; ++fd)
            if (isSimFd(fd) && ((rd && FD_ISSET(fd, rd)) || (wr && FD_ISSET(fd, wr)) || (ex && FD_ISSET(fd, ex))))
                sims.push_back(fd);
    if (sims.empty())
        return real(nfds, rd, wr, ex, tv);

    // Everything is turned into one poll over the same descriptors.
    std::vector<pollfd> fds;
    for (int fd = 0; fd < nfds; ++fd) {
        short events = 0;
        events |= rd && FD_ISSET(fd, rd) ? POLLIN : 0;
        events |= wr && FD_ISSET(fd, wr) ? POLLOUT : 0;
        events |= ex && FD_ISSET(fd, ex) ? POLLPRI : 0;
        if (events)
            fds.push_back({fd, events, 0});
    }
    const int timeout = tv ? int(tv->tv_sec * 1000 + (tv->tv_usec + 999) / 1000) : -1;
    const int r = simPoll(fds.data(), fds.size(), timeout);
    if (r < 0)
        return r;
    int count = 0;
    for (fd_set *s : {rd, wr, ex})
        if (s)
            FD_ZERO(s);
    for (const pollfd &p : fds) {
        if (rd && (p.events & POLLIN) && (p.revents & (POLLIN | POLLERR | POLLHUP))) {
            FD_SET(p.fd, rd);
            ++count;
        }
        if (wr && (p.events & POLLOUT) && (p.revents & (POLLOUT | POLLERR))) {
            FD_SET(p.fd, wr);
            ++count;
        }
        if (ex && (p.events & POLLPRI) && (p.revents & POLLPRI)) {
            FD_SET(p.fd, ex);
            ++count;
        }
    }
    if (tv && r == 0)
        *tv = {0, 0};
    return count;
}

} // namespace
