#pragma once
// One line on stderr, named after the library, for what the user of a real board must
// know: what was found, and why a call failed. The program itself only sees codes.

#include <cstdarg>
#include <cstdio>

namespace boardcomedi {

__attribute__((format(printf, 1, 2))) inline void report(const char* format, ...)
{
    std::va_list args;
    va_start(args, format);
    std::fputs("cbw32 (comedi): ", stderr);
    std::vfprintf(stderr, format, args);
    std::fputc('\n', stderr);
    va_end(args);
    std::fflush(stderr);
}

}  // namespace boardcomedi
