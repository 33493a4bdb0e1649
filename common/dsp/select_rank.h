#pragma once
// Selection of the value of a given rank (a median) without branches on the values:
// the values of a profile's noise come in random order, so the comparisons of
// std::nth_element are mispredicted about half the time, which costs more than the
// comparisons themselves.

#include <algorithm>
#include <cstddef>

// Moves the values of a[0..n) below pivot to its front, in any order; returns how
// many there are.
inline size_t partitionBelow(double* a, size_t n, double pivot)
{
    size_t below = 0;
    for (size_t j = 0; j < n; ++j) {
        const double x = a[j];
        a[j] = a[below];
        a[below] = x;
        below += size_t(x < pivot);
    }
    return below;
}

// Rearranges a[0..n) (values that compare: no NaN) so that a[rank] holds the value of
// that rank in ascending order, the values before it are not above it and those after
// it not below it, as std::nth_element does.
inline void selectRank(double* a, size_t n, size_t rank)
{
    size_t first = 0, last = n;  // the rank lies in a[first..last)
    while (last - first > 1) {
        double x = a[first], y = a[first + (last - first) / 2];
        const double z = a[last - 1];
        if (x > y)
            std::swap(x, y);
        const double pivot = std::max(x, std::min(y, z));  // the median of the three
        const size_t below = first + partitionBelow(a + first, last - first, pivot);
        if (rank < below) {
            last = below;
            continue;
        }
        if (below > first) {
            first = below;
            continue;
        }
        // Nothing is below the pivot: it is the least value. Its copies go first, so
        // that a run of equal values ends the search.
        size_t equal = first;
        for (size_t i = first; i < last; ++i) {
            const double v = a[i];
            a[i] = a[equal];
            a[equal] = v;
            equal += size_t(v == pivot);
        }
        if (rank < equal)
            return;
        first = equal;
    }
}
