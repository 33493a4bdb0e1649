#pragma once
// Runs a check in a child process that can start no thread, as under a tight limit of
// a user's processes: RLIMIT_NPROC 0. Root is never held to that limit, so a child of
// root first becomes the user nobody (the files the check reads must be readable by
// all). Qt-free.

#include <functional>
#include <system_error>
#include <thread>

#include <grp.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

// What runInChildWithoutThreads gives when no such child can be made here.
inline constexpr int NoThreadlessChild = 77;

// The check's result (its exit status, 0 for success), or NoThreadlessChild when the
// limit cannot be set or a thread still starts under it.
inline int runInChildWithoutThreads(const std::function<int()>& check)
{
    const pid_t child = fork();
    if (child < 0)
        return NoThreadlessChild;
    if (child == 0) {
        if (getuid() == 0) {
            const uid_t nobody = 65534;
            if (setgroups(0, nullptr) != 0 || setresgid(nobody, nobody, nobody) != 0 ||
                setresuid(nobody, nobody, nobody) != 0)
                _exit(NoThreadlessChild);
        }
        const rlimit none{0, 0};
        if (setrlimit(RLIMIT_NPROC, &none) != 0)
            _exit(NoThreadlessChild);
        try {
            std::thread probe([] {});
            probe.join();
            _exit(NoThreadlessChild);  // the limit does not hold here
        } catch (const std::system_error&) {
        }
        int result = 1;
        try {
            result = check();
        } catch (...) {
            result = 2;
        }
        _exit(result);
    }
    int status = 0;
    if (waitpid(child, &status, 0) != child)
        return NoThreadlessChild;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
