// Writes the gain calibration table digpot.cfg from the simulated front-end's
// potentiometer model. Usage: make_digpot [output path]   (default: digpot.cfg)
// The table is written as every output is (OutputFile): whole under a temporary name
// beside the output and then renamed, so that a failure (a full disk) leaves the file
// that stood there, or none; a device or a FIFO takes it as it comes.
#include "output_file.h"
#include "pot_model.h"
#include "runtime_error.h"

#include <iostream>
#include <string>

int main(int argc, char** argv)
{
    const std::string usage = "usage: make_digpot [output path]   (default: digpot.cfg)\n";
    if (argc > 2 || (argc == 2 && argv[1][0] == '-')) {
        const bool help = argc == 2 && (std::string(argv[1]) == "-h" || std::string(argv[1]) == "--help");
        (help ? std::cout : std::cerr) << usage;
        return help ? 0 : 2;
    }
    const std::string path = argc == 2 ? argv[1] : "digpot.cfg";
    try {
        OutputFile out(path);
        out.write(boardsim::digpotTableText());
        out.commit();
    } catch (const rt::InOutError& e) {
        std::cerr << "make_digpot: cannot write " << path << ": " << rt::ioErrorText(e.code()) << "\n";
        return 1;
    }
    return 0;
}
