#pragma once
// A path in a profile of linear powers is a lobe: its strongest bin and the bins either
// side down to the nearest dips. Its delay is the power-weighted centre of the lobe, a
// fraction of a bin; its power is the lobe's sum. A tone between two bins spreads over
// the lobe, so both figures move less with the tone's place between bins than the
// strongest bin's own do.

#include <cstdint>

namespace cli {

struct PathLobe {
    double centreBin = 0;  // in the profile's bin numbering (bin k is delay k - 1)
    double powerDb = 0;    // 10 log10 of the lobe's summed power
};

// The widest a lobe is taken either side of its bin: the main lobe of a sweep zero-padded
// from 2500 to 4096 points spans some 1.6 bins either side.
inline constexpr int PathLobeReach = 3;

// The lobe around bin `peak` of power[1..lastBin] (all at least the 1e-6 floor): bins
// taken outward while each is below the one before it and is no dip (a bin with a
// higher one beyond it), at most PathLobeReach either side.
PathLobe pathLobe(const double* power, int32_t peak, int lastBin);

}  // namespace cli
