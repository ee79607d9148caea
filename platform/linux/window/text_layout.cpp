#include "platform/linux/window/text_layout.h"

#include <FL/fl_draw.H>
#include <FL/fl_utf8.h>

#include <algorithm>

namespace platform {

std::string LiteralLabel(const std::string& text) {
  std::string label;
  for (char c : text) {
    if (c == '@') {
      label += '@';
    }
    label += c;
  }
  return label;
}

std::string LineBreaks(const std::string& text) {
  std::string result;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') {
      result += '\n';
      if (i + 1 < text.size() && text[i + 1] == '\n') {
        ++i;
      }
    } else {
      result += text[i];
    }
  }
  return result;
}

std::vector<std::string> WrapLines(const std::string& text, int width) {
  std::vector<std::string> lines;
  auto fits = [width](const std::string& line) { return fl_width(line.c_str()) <= width; };
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) {
      end = text.size();
    }
    const std::string paragraph = text.substr(start, end - start);
    std::string line;
    std::size_t at = 0;
    while (at < paragraph.size()) {
      std::size_t wordEnd = paragraph.find(' ', at);
      wordEnd = wordEnd == std::string::npos ? paragraph.size() : wordEnd + 1;
      const std::string word = paragraph.substr(at, wordEnd - at);
      at = wordEnd;
      if (fits(line + word)) {
        line += word;
        continue;
      }
      if (!line.empty()) {
        lines.push_back(line);
        line.clear();
      }
      // The word alone: whole when it fits, else character by character (UTF-8 sequences kept
      // together).
      for (std::size_t i = 0; i < word.size();) {
        const std::size_t length = std::clamp<std::size_t>(
            static_cast<std::size_t>(fl_utf8len1(word[i])), 1, word.size() - i);
        const std::string character = word.substr(i, length);
        if (!line.empty() && !fits(line + character)) {
          lines.push_back(line);
          line.clear();
        }
        line += character;
        i += length;
      }
    }
    lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

}  // namespace platform
