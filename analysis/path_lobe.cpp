#include "path_lobe.h"

#include <cmath>

namespace cli {

PathLobe pathLobe(const double* power, int32_t peak, int lastBin)
{
    // A bin joins while it is below the one before it; a dip, a bin with a higher one
    // beyond it, lies between two paths and joins neither.
    int32_t first = peak, last = peak;
    while (first > 1 && peak - first < PathLobeReach && power[first - 1] < power[first] &&
           !(first - 1 > 1 && power[first - 2] > power[first - 1]))
        --first;
    while (last < lastBin && last - peak < PathLobeReach && power[last + 1] < power[last] &&
           !(last + 1 < lastBin && power[last + 2] > power[last + 1]))
        ++last;
    double sum = 0.0, moment = 0.0;
    for (int32_t k = first; k <= last; ++k) {
        sum += power[k];
        moment += power[k] * double(k - peak);
    }
    return {double(peak) + moment / sum, 10.0 * std::log10(sum)};
}

}  // namespace cli
