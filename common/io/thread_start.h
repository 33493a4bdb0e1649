#pragma once
// Threads the program can do without: where the system refuses one (a limit of the
// user's processes or of memory), the caller does the work itself, on its own thread.

#include <system_error>
#include <thread>

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

}  // namespace rt
