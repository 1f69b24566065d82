#include "app/SignalWatch.h"

#include "base/Log.h"
#include "package/TempFolders.h"

#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <cstdint>
#include <mutex>
#include <stdexcept>
#include <string>

namespace kiv {

namespace {

// How long ending may take before the signal's default action cuts it short.
constexpr int kLastResortSeconds = 2;

sigset_t EndingSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

// The ending signal waiting in `fd`, or 0.
int TakeSignal(int fd) {
    signalfd_siginfo info{};
    for (;;) {
        const ssize_t got = ::read(fd, &info, sizeof info);
        if (got == static_cast<ssize_t>(sizeof info)) return static_cast<int>(info.ssi_signo);
        if (got < 0 && errno == EINTR) continue;
        return 0;
    }
}

std::mutex unfinishedLock;
std::string unfinishedFile;

} // namespace

void SetUnfinishedFile(std::string path) {
    const std::lock_guard<std::mutex> hold(unfinishedLock);
    unfinishedFile = std::move(path);
}

void EndBySignal(int signal) {
    // From here on the signal's default action is armed in this thread, the only one that takes
    // it: a second signal from outside ends the process at once, and so does the timer below when
    // the cleanup or the log hangs (a log writer stuck on a full standard-error pipe holds the log).
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    ::sigaction(signal, &action, nullptr);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signal);
    ::pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
    sigevent event{};
    event.sigev_notify = SIGEV_SIGNAL;
    event.sigev_signo = signal;
    timer_t timer{};
    if (::timer_create(CLOCK_MONOTONIC, &event, &timer) == 0) {
        itimerspec due{};
        due.it_value.tv_sec = kLastResortSeconds;
        ::timer_settime(timer, 0, &due, nullptr);
    }

    {
        const std::lock_guard<std::mutex> hold(unfinishedLock);
        if (!unfinishedFile.empty()) ::unlink(unfinishedFile.c_str());
    }
    ProcessTempFolders().ReleaseAll();
    TLog::Line("Ended by signal " + std::to_string(signal));
    TLog::Finish();
    ::raise(signal);
    ::_exit(128 + signal); // not reached unless the default action was refused
}

TSignalWatch::TSignalWatch() {
    const sigset_t set = EndingSignals();
    ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
    signalFd_ = ::signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
    stopFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (signalFd_ < 0 || stopFd_ < 0) {
        if (signalFd_ >= 0) ::close(signalFd_);
        if (stopFd_ >= 0) ::close(stopFd_);
        ::pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
        throw std::runtime_error("The signal watch cannot be set up");
    }
    thread_ = std::thread([this] { Watch(); });
}

TSignalWatch::~TSignalWatch() {
    const std::uint64_t one = 1;
    while (::write(stopFd_, &one, sizeof one) < 0 && errno == EINTR) {
    }
    thread_.join();
    if (const int signal = TakeSignal(signalFd_)) EndBySignal(signal);
    ::close(signalFd_);
    ::close(stopFd_);
}

void TSignalWatch::Watch() {
    ::pthread_setname_np(::pthread_self(), "kivSignals");
    for (;;) {
        pollfd fds[2] = {{signalFd_, POLLIN, 0}, {stopFd_, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[0].revents & POLLIN)
            if (const int signal = TakeSignal(signalFd_)) EndBySignal(signal);
        if (fds[1].revents & POLLIN) return;
    }
}

} // namespace kiv
