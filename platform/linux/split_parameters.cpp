#include "platform/linux/split_parameters.h"

#include "platform/host.h"

namespace platform {

std::vector<std::string> SplitParameters(std::wstring_view text) {
  std::vector<std::string> arguments;
  std::wstring current;
  bool inArgument = false;
  bool quoted = false;
  for (wchar_t c : text) {
    if (c == L'"') {
      quoted = !quoted;
      inArgument = true;
    } else if (!quoted && (c == L' ' || c == L'\t')) {
      if (inArgument) {
        arguments.push_back(WideToUtf8(current));
        current.clear();
        inArgument = false;
      }
    } else {
      current += c;
      inArgument = true;
    }
  }
  if (inArgument) {
    arguments.push_back(WideToUtf8(current));
  }
  return arguments;
}

}  // namespace platform
