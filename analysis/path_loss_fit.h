#pragma once
// The log-distance model of path gain, fitted by least squares:
//   path gain G(d) = G0 - 10 n log10(d / 1 m),
// i.e. path loss PL(d) = PL0 + 10 n log10(d) with PL0 = -G0.

#include <optional>
#include <string>
#include <vector>

namespace cli {

struct PathGainPoint {
    double distanceM = 0.0;
    double pathGainDb = 0.0;
};

struct PathLossFit {
    double exponent = 0.0;          // n
    double interceptGainDb = 0.0;   // G0, the path gain at 1 m
    double residualStdDb = 0.0;     // of the residuals, with N - 2 degrees of freedom
    int points = 0;
};

// The fit over the points, or nullopt with `why` when it cannot be made: fewer than 3
// points, a distance that is not positive, or all at one distance.
std::optional<PathLossFit> fitPathLoss(const std::vector<PathGainPoint>& points, std::string* why);

}  // namespace cli
