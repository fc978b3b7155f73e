#include "platform/stop_signal.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace {

// Written only by the handler, read by the run and the watcher; a lock-free
// atomic keeps both sides async-signal-safe.
std::atomic<int> stopSignal{0};
static_assert(std::atomic<int>::is_always_lock_free, "the stop flag is set in a signal handler");

// The stop pipe: the handler writes one byte into it and nobody reads it, so
// it stays readable from the stop to the end of the process.
int stopPipe[2] = {-1, -1};

void (*watchAction)(bool stopped) = nullptr;

// Often enough that a bound of seconds holds to a fraction of a second.
constexpr int kWatchIntervalMs = 250;

void onStopSignal(int signal) {
    int expected = 0;
    if (!stopSignal.compare_exchange_strong(expected, signal))
        return;
    int savedErrno = errno;  // the interrupted code may be about to read it
    const char byte = 1;
    ssize_t written = write(stopPipe[1], &byte, 1);
    static_cast<void>(written);  // a full or missing pipe: the flag still stands
    errno = savedErrno;
}

// Runs the watch action every kWatchIntervalMs, and at once when the stop
// comes. After the stop the pipe stays readable, so only the interval paces
// the loop. Runs for the whole process; it holds nothing that an exit needs.
void* watch(void*) {
    struct pollfd stop = {stopPipe[0], POLLIN, 0};
    for (;;) {
        const nfds_t watched = platformStopSignal() == 0 ? 1 : 0;
        poll(&stop, watched, kWatchIntervalMs);
        if (watchAction != nullptr)
            watchAction(platformStopSignal() != 0);
    }
    return nullptr;
}

// The watcher gets every signal blocked, so that the stop signals go to the
// run's own thread, where a handler interrupting a blocked call does no harm.
bool startWatcher() {
    sigset_t all;
    sigset_t previous;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &previous);
    pthread_t watcher;
    int rc = pthread_create(&watcher, nullptr, watch, nullptr);
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    if (rc != 0)
        return false;
    pthread_detach(watcher);
    return true;
}

}  // namespace

void platformCatchStopSignals(void (*onWatch)(bool stopped)) {
    if (pipe2(stopPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        stopPipe[0] = -1;
        stopPipe[1] = -1;
    }
    watchAction = onWatch;
    struct sigaction action = {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART | SA_RESETHAND;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    // Without the watcher the run still checks the flag before every
    // statement; only a call in flight is not watched.
    if (stopPipe[0] >= 0)
        startWatcher();
}

int platformStopSignal() {
    return stopSignal.load();
}

int platformStopDescriptor() {
    return stopPipe[0];
}

const char* platformSignalName(int signal) {
    if (signal == SIGTERM)
        return "SIGTERM";
    if (signal == SIGINT)
        return "SIGINT";
    return "signal";
}
