#pragma once
// Which board library this process has loaded: found from the address of one of its
// functions, so the program names it without knowing it in advance.

#include <string>

struct BoardLibraryInfo {
    std::string path;    // the shared object as the loader found it; empty if unknown
    std::string kind;    // what the library says it drives; empty if it does not say
    bool simulated() const { return kind == "simulated"; }
};

BoardLibraryInfo loadedBoardLibrary();

// Why the loaded board library cannot use its board (its cbwBoardFailure text), empty
// when it can or when the library does not say.
std::string boardFailure();
