#pragma once
// The text of the peak-to-peak field: fixed point with 3 decimals, never more than 7
// significant digits; a value with more than 7 digits before the point is shown in
// scientific form instead.

#include <string>
#include <string_view>

// decimalPoint is the user's locale separator ("." or "," ...). No thousands
// separators. A value that rounds to zero is shown without a sign.
std::string peakToPeakText(double value, std::string_view decimalPoint);
