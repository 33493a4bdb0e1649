#include "baseline_means.h"

#include "runtime_error.h"

#include <algorithm>

namespace {

// Sum and count are both doubles, the count growing by 1.0 per extremum, so the
// result is exactly the sum divided as a double.
template <class Beyond>
double meanOfStrictExtrema(int32_t n, std::span<const double> x, Beyond beyond)
{
    const int64_t stored = x.empty() ? 0 : static_cast<int64_t>(x.size()) - 1;
    const int64_t last = std::min<int64_t>(n, stored);
    double sum = 0.0;
    double count = 0.0;
    for (int64_t k = 2; k <= last - 1; ++k) {
        const double v = x[static_cast<size_t>(k)];
        if (beyond(v, x[static_cast<size_t>(k - 1)]) && beyond(v, x[static_cast<size_t>(k + 1)])) {
            sum += v;
            count += 1.0;
        }
    }
    return rt::divideChecked(sum, count);
}

}  // namespace

double negmean(int32_t n, std::span<const double> x)
{
    return meanOfStrictExtrema(n, x, [](double v, double neighbour) { return v < neighbour; });
}

double posmean(int32_t n, std::span<const double> x)
{
    return meanOfStrictExtrema(n, x, [](double v, double neighbour) { return v > neighbour; });
}
