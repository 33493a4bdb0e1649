// Writes the gain calibration table digpot.cfg from the simulated front-end's
// potentiometer model. Usage: make_digpot [output path]   (default: digpot.cfg)
#include "pot_model.h"

#include <cstdio>
#include <fstream>
#include <iostream>

int main(int argc, char** argv)
{
    if (argc > 2) {
        std::cerr << "usage: make_digpot [output path]\n";
        return 2;
    }
    const char* path = argc == 2 ? argv[1] : "digpot.cfg";
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    const std::string text = boardsim::digpotTableText();
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.close();
    if (!out) {
        std::cerr << "make_digpot: cannot write " << path << "\n";
        return 1;
    }
    return 0;
}
