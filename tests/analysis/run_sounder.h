#pragma once
// Runs the built sounder program through the shell and collects what it said.

#include "temp_dir.h"

#include <cstdlib>
#include <string>
#include <sys/wait.h>

struct RunResult {
    int status = -1;
    std::string out;
    std::string err;
};

inline RunResult runSounder(const TempDir& dir, const std::string& args)
{
    const std::string out = dir.file("stdout.log");
    const std::string err = dir.file("stderr.log");
    const std::string command = std::string("cd '") + dir.file("") + "' && '" + SOUNDER_BINARY + "' " + args +
                                " >'" + out + "' 2>'" + err + "'";
    const int raw = std::system(command.c_str());
    RunResult result;
    result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    result.out = readBytes(out);
    result.err = readBytes(err);
    return result;
}

// A recording as "Acquire" writes it: sweeps whole sweeps of the given length,
// channel codes from the line number.
inline std::string recording(int promised, int samples, int sweeps, int attenuation = 31)
{
    std::string text = std::to_string(promised) + "," + std::to_string(samples) + "\r\n" +
                       std::to_string(attenuation) + "\r\n10,20,30\r\n0.0\r\n";
    for (int i = 0; i < sweeps * samples; ++i)
        text += std::to_string(i % 4096) + "," + std::to_string((i * 7) % 4096) + "," + std::to_string(4095 - i % 4096) +
                "\r\n";
    return text;
}
