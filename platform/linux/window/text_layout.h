// Text as the dialog's controls show it: labels taken literally, the device's line breaks, and
// lines wrapped to a width in the current font.
#pragma once

#include <string>
#include <vector>

namespace platform {

// The toolkit reads '@' in a label as the start of a symbol; "@@" draws one '@'.
std::string LiteralLabel(const std::string& text);

// A static control breaks lines at "\r\n" (and at a lone '\r' or '\n'): those as '\n'.
std::string LineBreaks(const std::string& text);

// Breaks text into the lines that fit width in the current font: at line breaks, between words,
// and inside a word that is wider than a whole line (an address, a path), so nothing is lost
// past the right edge.
std::vector<std::string> WrapLines(const std::string& text, int width);

}  // namespace platform
