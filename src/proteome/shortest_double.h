// The shortest text that reads back as the same double, laid out as
// std::to_chars lays it out: p- and q-values in every output.
#pragma once
#include <string>

namespace talvo::proteome {

std::string ShortestDouble(double value);
void AppendShortest(std::string& out, double value);

}  // namespace talvo::proteome
