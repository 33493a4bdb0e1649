// Writes the gain calibration table digpot.cfg from the simulated front-end's
// potentiometer model. Usage: make_digpot [output path]   (default: digpot.cfg)
// The table is written whole under a temporary name beside the output and then renamed,
// so that a failure (a full disk) leaves the file that stood there, or none.
#include "pot_model.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

int main(int argc, char** argv)
{
    const std::string usage = "usage: make_digpot [output path]   (default: digpot.cfg)\n";
    if (argc > 2 || (argc == 2 && argv[1][0] == '-')) {
        const bool help = argc == 2 && (std::string(argv[1]) == "-h" || std::string(argv[1]) == "--help");
        (help ? std::cout : std::cerr) << usage;
        return help ? 0 : 2;
    }
    const std::string path = argc == 2 ? argv[1] : "digpot.cfg";
    const std::string text = boardsim::digpotTableText();
    // A device or a FIFO (/dev/stdout, a named pipe) takes the table as it comes: a file
    // renamed over it would take its place.
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0 && (S_ISCHR(info.st_mode) || S_ISFIFO(info.st_mode))) {
        const int out = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
        int failed = out < 0 ? errno : 0;
        for (size_t at = 0; !failed && at < text.size();) {
            const ssize_t n = ::write(out, text.data() + at, text.size() - at);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                failed = n < 0 ? errno : EIO;
            else
                at += size_t(n);
        }
        if (out >= 0 && ::close(out) != 0 && !failed)
            failed = errno;
        if (failed) {
            std::cerr << "make_digpot: cannot write " << path << ": " << std::strerror(failed) << "\n";
            return 1;
        }
        return 0;
    }
    std::string temporary = path + ".XXXXXX";
    int why = 0;  // the errno of the first step that failed
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0)
        why = errno;
    for (size_t at = 0; fd >= 0 && at < text.size();) {
        const ssize_t n = ::write(fd, text.data() + at, text.size() - at);
        if (n <= 0) {
            why = n < 0 ? errno : EIO;
            break;
        }
        at += size_t(n);
    }
    if (fd >= 0) {
        if (!why && ::fchmod(fd, 0644) != 0)
            why = errno;
        if (::close(fd) != 0 && !why)
            why = errno;
        if (!why && ::rename(temporary.c_str(), path.c_str()) != 0)
            why = errno;
        if (why)
            ::unlink(temporary.c_str());
    }
    if (why) {
        std::cerr << "make_digpot: cannot write " << path << ": " << std::strerror(why) << "\n";
        return 1;
    }
    return 0;
}
