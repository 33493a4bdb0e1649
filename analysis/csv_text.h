#pragma once
// The pieces of the CSV tables of the sounder tool: numbers in their shortest exact
// form, and file names as one field.

#include <string>

namespace cli {

// value in the shortest form that reads back as the same double.
void appendNumber(std::string& text, double value);

// A file name as one CSV field: quoted when it holds a comma, a quote or a line end.
std::string csvField(const std::string& text);

}  // namespace cli
