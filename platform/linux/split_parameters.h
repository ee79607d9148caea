// The parameter text of a program start, split into arguments as a Windows command line is.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Blanks and tabs separate arguments, double quotation marks group blanks into one argument
// and are removed ("" gives an empty argument), and backslashes are plain characters, so that
// a quoted device folder ending in a backslash stays intact. Arguments come back in UTF-8.
std::vector<std::string> SplitParameters(std::wstring_view text);

}  // namespace platform
