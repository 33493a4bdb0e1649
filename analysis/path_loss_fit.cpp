#include "path_loss_fit.h"

#include <cmath>

namespace cli {

std::optional<PathLossFit> fitPathLoss(const std::vector<PathGainPoint>& points, std::string* why)
{
    const auto refuse = [why](const char* text) {
        if (why)
            *why = text;
        return std::nullopt;
    };
    if (points.size() < 3)
        return refuse("fewer than 3 recordings with a position and a path gain");
    // Centred sums: the slope of G against x = log10(d).
    double meanX = 0.0, meanG = 0.0;
    for (const PathGainPoint& p : points) {
        if (!(p.distanceM > 0.0) || !std::isfinite(p.distanceM) || !std::isfinite(p.pathGainDb))
            return refuse("a recording at distance 0 or with no finite path gain");
        meanX += std::log10(p.distanceM);
        meanG += p.pathGainDb;
    }
    const double n = double(points.size());
    meanX /= n;
    meanG /= n;
    double sxx = 0.0, sxg = 0.0;
    for (const PathGainPoint& p : points) {
        const double dx = std::log10(p.distanceM) - meanX;
        sxx += dx * dx;
        sxg += dx * (p.pathGainDb - meanG);
    }
    if (sxx < 1e-12)
        return refuse("all recordings at one distance");
    const double slope = sxg / sxx;
    PathLossFit fit;
    fit.exponent = -slope / 10.0;
    fit.interceptGainDb = meanG - slope * meanX;
    double squares = 0.0;
    for (const PathGainPoint& p : points) {
        const double r = p.pathGainDb - (fit.interceptGainDb + slope * std::log10(p.distanceM));
        squares += r * r;
    }
    fit.residualStdDb = std::sqrt(squares / (n - 2.0));
    fit.points = int(points.size());
    return fit;
}

}  // namespace cli
