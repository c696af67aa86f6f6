#include "app/terminationsignals.h"

#include "app/logging.h"

#include <QSocketNotifier>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <iterator>

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int kHandled[] = {SIGTERM, SIGINT, SIGHUP};

// Written by the handler, read by the notifier: the handler may run on any
// thread and may do next to nothing, a write to a pipe is one of the few.
int g_readEnd = -1;
std::atomic<int> g_writeEnd{-1};
std::atomic<int> g_received{0};
static_assert(std::atomic<int>::is_always_lock_free, "the handler needs lock-free values");

struct sigaction g_previous[std::size(kHandled)];
bool g_installed[std::size(kHandled)] = {};

extern "C" void onTerminationSignal(int number)
{
    if (g_received.fetch_add(1) > 0) {
        // Asked twice: no more waiting for an orderly end. The signal is
        // blocked while this runs, so it strikes, by default, on return.
        struct sigaction fallback {};
        fallback.sa_handler = SIG_DFL;
        sigemptyset(&fallback.sa_mask);
        ::sigaction(number, &fallback, nullptr);
        ::raise(number);
        return;
    }
    const int savedErrno = errno;
    const char byte = static_cast<char>(number);
    [[maybe_unused]] const ssize_t written = ::write(g_writeEnd.load(), &byte, 1);
    errno = savedErrno;
}

} // namespace

TerminationSignals::TerminationSignals(QObject *parent) : QObject(parent)
{
    // The pipe stays for the process's life: a handler still running on
    // another thread when this object goes must not write to a reused number.
    if (g_readEnd < 0) {
        int ends[2] = {-1, -1};
        if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) {
            const QString error = qt_error_string(errno);
            qCWarning(lcStartup) << "termination signals not watched:" << error;
            return;
        }
        g_readEnd = ends[0];
        g_writeEnd.store(ends[1]);
    }
    m_notifier = new QSocketNotifier(g_readEnd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &TerminationSignals::readPending);

    struct sigaction action {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (size_t i = 0; i < std::size(kHandled); ++i) {
        // A signal ignored from the start stays ignored, as nohup asks.
        if (::sigaction(kHandled[i], nullptr, &g_previous[i]) != 0 || g_previous[i].sa_handler == SIG_IGN)
            continue;
        g_installed[i] = ::sigaction(kHandled[i], &action, nullptr) == 0;
    }
}

TerminationSignals::~TerminationSignals()
{
    if (!m_notifier)
        return;
    for (size_t i = 0; i < std::size(kHandled); ++i) {
        if (g_installed[i])
            ::sigaction(kHandled[i], &g_previous[i], nullptr);
        g_installed[i] = false;
    }
    delete m_notifier;
    m_notifier = nullptr;
}

bool TerminationSignals::received()
{
    return g_received.load() > 0;
}

void TerminationSignals::readPending()
{
    char byte = 0;
    bool got = false;
    while (::read(g_readEnd, &byte, 1) == 1)
        got = true;
    if (!got)
        return;
    const int number = static_cast<unsigned char>(byte);
    qCDebug(lcStartup) << "signal" << number << "received: closing";
    emit terminationRequested(number);
}
