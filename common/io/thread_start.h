#pragma once
// Threads the program can do without: where the system refuses one (a limit of the
// user's processes or of memory), the caller does the work itself, on its own thread.

#include <system_error>
#include <thread>
#include <vector>

namespace rt {

// work started on a thread of its own, or a thread that is not joinable where none can
// be had. work is copied, so that the caller still holds it in either case.
template <class Work>
std::thread threadIfAny(const Work& work)
{
    try {
        return std::thread(work);
    } catch (const std::system_error&) {
        return std::thread();
    }
}

// work() run on this thread and at once on up to `helpers` threads more, as many as the
// system gives; returns when every run has returned. Each run takes its share of a
// common pool of work itself; work does not throw.
template <class Work>
void runAlongside(size_t helpers, const Work& work)
{
    std::vector<std::thread> threads;
    while (threads.size() < helpers) {
        std::thread helper = threadIfAny(work);
        if (!helper.joinable())
            break;
        threads.push_back(std::move(helper));
    }
    work();
    for (std::thread& t : threads)
        t.join();
}

}  // namespace rt
