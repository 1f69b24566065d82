// Waiting for a child process with a bound: the wait ends when the child ends or the time is up,
// whichever comes first; the time only decides a failure, never a success.
#pragma once

#include <poll.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <optional>
#include <thread>

namespace kiv::test {

// The child's wait status once it ended within `limit`; none when it still runs (then it is
// killed and reaped, so no test leaves a process behind).
inline std::optional<int> WaitForChild(pid_t pid, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    const int pidFd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    for (;;) {
        int status = 0;
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid) {
            if (pidFd >= 0) ::close(pidFd);
            return status;
        }
        if (done < 0 && errno != EINTR) break;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        if (pidFd >= 0) {
            pollfd ended{pidFd, POLLIN, 0};
            ::poll(&ended, 1, static_cast<int>(left.count())); // readable when the child ends
        } else {
            std::this_thread::sleep_for(std::min(left, std::chrono::milliseconds(5)));
        }
    }
    if (pidFd >= 0) ::close(pidFd);
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return std::nullopt;
}

} // namespace kiv::test
