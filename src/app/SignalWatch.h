// TSignalWatch: SIGINT and SIGTERM end the player at any moment, while a show loads as well, and
// its temporary folders go with it. The signals are blocked in every thread and taken by one
// thread of their own ("kivSignals") that waits on a signalfd, so a main thread stuck in a long
// read or a blocking call does not delay the end. Ending releases the process's temporary folders,
// closes the log and then dies by the same signal with its default action, so that a parent sees
// a program killed by SIGTERM (a shell: exit status 128 + the signal number).
#pragma once

#include <csignal>
#include <string>
#include <thread>

namespace kiv {

class TSignalWatch {
public:
    // Blocks SIGINT and SIGTERM in the calling thread (threads started later inherit the mask) and
    // starts the watching thread. Made by the program entry before it starts any other thread.
    TSignalWatch();
    // Stops and joins the watching thread. A signal that came in meanwhile ends the program as the
    // thread would have; one that comes later stays blocked while the program finishes normally.
    ~TSignalWatch();
    TSignalWatch(const TSignalWatch&) = delete;
    TSignalWatch& operator=(const TSignalWatch&) = delete;

private:
    void Watch();

    int signalFd_ = -1;
    int stopFd_ = -1;
    std::thread thread_;
};

// Releases the process's temporary folders, writes "Ended by signal N" and the log's end banner,
// then ends the process by `signal` with its default action; should that hang for 2 s (the log
// blocked by another thread), the default action ends it anyway. Any thread may call it.
[[noreturn]] void EndBySignal(int signal);

// A file that ending by a signal removes first: the unfinished output of an export, so that an
// interrupted export leaves nothing behind. Empty: none. Any thread.
void SetUnfinishedFile(std::string path);

} // namespace kiv
