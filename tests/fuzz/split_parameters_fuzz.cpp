// platform::SplitParameters, the Windows command-line splitting of a program start.
// Input: the parameter text (UTF-8).
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/linux/split_parameters.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

std::wstring Quoted(const std::vector<std::string>& arguments) {
  std::wstring text;
  for (const std::string& argument : arguments) {
    text += L" \"" + fuzzing::Wide(argument) + L"\"";
  }
  return text;
}

std::vector<std::string> SplitAtBlanks(const std::wstring& text) {
  std::vector<std::string> pieces;
  std::wstring piece;
  for (wchar_t c : text + L' ') {
    if (c == L' ' || c == L'\t') {
      if (!piece.empty()) {
        pieces.push_back(platform::WideToUtf8(piece));
      }
      piece.clear();
    } else {
      piece += c;
    }
  }
  return pieces;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::wstring text = fuzzing::Wide(fuzzing::Bytes(data, size));
  const std::vector<std::string> arguments = platform::SplitParameters(text);

  std::size_t characters = 0;
  for (const std::string& argument : arguments) {
    fuzzing::Check(argument.find('"') == std::string::npos, "a quotation mark was kept", text);
    characters += fuzzing::Wide(argument).size();
  }
  // Every argument needs a character of the text, and every character lands in one argument
  // at most.
  fuzzing::Check(arguments.size() <= text.size() && characters <= text.size(),
                 "more arguments or characters than the text has", text);
  if (text.find(L'"') == std::wstring::npos) {
    fuzzing::Check(arguments == SplitAtBlanks(text), "unquoted text split otherwise", text);
  }
  // Quoting every argument and splitting again gives the same arguments back: what a caller
  // does to pass a list through a parameter text.
  fuzzing::Check(platform::SplitParameters(Quoted(arguments)) == arguments,
                 "quoted arguments did not come back", text);
  return 0;
}
