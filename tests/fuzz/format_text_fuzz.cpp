// platform::FormatText with formats of any shape. Input: the format (UTF-8), then optionally a
// zero byte and the bytes that the arguments and the buffer size are drawn from.
//
// A variadic call needs its argument types at compile time, so the format is cut into pieces
// of one argument-taking directive each (with its '*' width and precision), classified here by
// printf's grammar, and each piece is formatted with arguments of the right types. Each piece
// is formatted twice: into a large buffer and into a small one of the input's choosing, which
// must receive the same text cut to its size.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <memory>
#include <span>
#include <string>

#include "platform/text.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

enum class Arg {
  None,
  Int,
  Long,
  LongLong,
  UInt,
  ULong,
  ULongLong,
  Size,
  Double,
  LongDouble,
  WideText,
  NarrowText,
  NarrowChar,
  WideChar,
  Pointer
};

struct Directive {
  std::size_t end = 0;  // one past its last character
  bool widthStar = false;
  bool precisionStar = false;
  Arg arg = Arg::None;
  bool TakesArguments() const { return widthStar || precisionStar || arg != Arg::None; }
};

bool IsDigit(wchar_t c) {
  return c >= L'0' && c <= L'9';
}

// The directive that starts at format[at] == '%'.
Directive Classify(const std::wstring& format, std::size_t at) {
  Directive directive;
  std::size_t i = at + 1;
  auto here = [&] { return i < format.size() ? format[i] : L'\0'; };
  while (here() != L'\0' && std::wcschr(L"-+ #0", here()) != nullptr) {
    ++i;
  }
  if (here() == L'*') {
    directive.widthStar = true;
    ++i;
  } else {
    while (IsDigit(here())) {
      ++i;
    }
  }
  if (here() == L'.') {
    ++i;
    if (here() == L'*') {
      directive.precisionStar = true;
      ++i;
    } else {
      while (IsDigit(here())) {
        ++i;
      }
    }
  }
  std::wstring length;
  for (const wchar_t* modifier : {L"hh", L"h", L"ll", L"l", L"j", L"z", L"t", L"L"}) {
    if (format.compare(i, std::wcslen(modifier), modifier) == 0) {
      length = modifier;
      i += length.size();
      break;
    }
  }
  const wchar_t kind = here();
  directive.end = kind == L'\0' ? i : i + 1;
  const bool wideLong = length == L"l" || length == L"j" || length == L"z" || length == L"t";
  switch (kind) {
    case L'd':
    case L'i':
      directive.arg = length == L"ll" ? Arg::LongLong : wideLong ? Arg::Long : Arg::Int;
      break;
    case L'u':
    case L'o':
    case L'x':
    case L'X':
      directive.arg = length == L"ll"                    ? Arg::ULongLong
                      : length == L"z" || length == L"t" ? Arg::Size
                      : wideLong                         ? Arg::ULong
                                                         : Arg::UInt;
      break;
    case L'f':
    case L'F':
    case L'e':
    case L'E':
    case L'g':
    case L'G':
    case L'a':
    case L'A':
      directive.arg = length == L"L" ? Arg::LongDouble : Arg::Double;
      break;
    case L's':
    case L'S':
      directive.arg = length == L"h" || kind == L'S' ? Arg::NarrowText : Arg::WideText;
      break;
    case L'c':
    case L'C':
      directive.arg = length == L"h" || kind == L'C' ? Arg::NarrowChar : Arg::WideChar;
      break;
    case L'p':
      directive.arg = Arg::Pointer;
      break;
    default:
      break;
  }
  return directive;
}

struct Values {
  explicit Values(FuzzedDataProvider& input)
      : width(input.ConsumeIntegral<int>()),
        precision(input.ConsumeIntegral<int>()),
        integer(input.ConsumeIntegral<std::uint64_t>()),
        floating(FromBits(input.ConsumeIntegral<std::uint64_t>())),
        wide(platform::Utf8ToWide(input.ConsumeRandomLengthString(600))),
        narrow(input.ConsumeRandomLengthString(600)),
        nullText(input.ConsumeIntegralInRange(0, 15) == 0) {}

  static double FromBits(std::uint64_t bits) {
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
  }

  int width;
  int precision;
  std::uint64_t integer;
  double floating;  // any bit pattern: infinities, NaNs and subnormals too
  std::wstring wide;
  std::string narrow;
  bool nullText;
};

template <class... Stars>
bool Format(std::span<wchar_t> out, const wchar_t* format, Arg arg, const Values& v,
            Stars... stars) {
  const auto i = v.integer;
  switch (arg) {
    case Arg::None:
      return platform::FormatText(out, format, stars...);
    case Arg::Int:
      return platform::FormatText(out, format, stars..., static_cast<int>(i));
    case Arg::Long:
      return platform::FormatText(out, format, stars..., static_cast<long>(i));
    case Arg::LongLong:
      return platform::FormatText(out, format, stars..., static_cast<long long>(i));
    case Arg::UInt:
      return platform::FormatText(out, format, stars..., static_cast<unsigned>(i));
    case Arg::ULong:
      return platform::FormatText(out, format, stars..., static_cast<unsigned long>(i));
    case Arg::ULongLong:
      return platform::FormatText(out, format, stars..., static_cast<unsigned long long>(i));
    case Arg::Size:
      return platform::FormatText(out, format, stars..., static_cast<std::size_t>(i));
    case Arg::Double:
      return platform::FormatText(out, format, stars..., v.floating);
    case Arg::LongDouble:
      return platform::FormatText(out, format, stars..., static_cast<long double>(v.floating));
    case Arg::WideText:
      return platform::FormatText(out, format, stars..., v.nullText ? nullptr : v.wide.c_str());
    case Arg::NarrowText:
      return platform::FormatText(out, format, stars..., v.nullText ? nullptr : v.narrow.c_str());
    // A zero character would end the text early, hiding what was written after it.
    case Arg::NarrowChar:
      return platform::FormatText(out, format, stars..., static_cast<int>(i & 0xFF ? i : i | 1));
    case Arg::WideChar:
      return platform::FormatText(out, format, stars...,
                                  static_cast<std::wint_t>(i & 0xFFFFFFFF ? i : i | 1));
    case Arg::Pointer:
      return platform::FormatText(out, format, stars..., reinterpret_cast<void*>(i));
  }
  return false;
}

bool FormatPiece(std::span<wchar_t> out, const wchar_t* format, const Directive& directive,
                 const Values& v) {
  if (directive.widthStar && directive.precisionStar) {
    return Format(out, format, directive.arg, v, v.width, v.precision);
  }
  if (directive.widthStar || directive.precisionStar) {
    return Format(out, format, directive.arg, v, directive.widthStar ? v.width : v.precision);
  }
  return Format(out, format, directive.arg, v);
}

constexpr std::size_t kLarge = 4096;

void CheckPiece(const std::wstring& piece, const Directive& directive, const Values& v,
                std::size_t smallSize) {
  // Exactly the sizes asked for, on the heap, so that one character more is caught.
  const auto large = std::make_unique<wchar_t[]>(kLarge);
  const bool largeComplete = FormatPiece({large.get(), kLarge}, piece.c_str(), directive, v);
  const std::size_t largeLength = wcsnlen(large.get(), kLarge);
  fuzzing::Check(largeLength < kLarge, "no terminator", piece);

  const auto small = std::make_unique<wchar_t[]>(smallSize);
  const bool smallComplete = FormatPiece({small.get(), smallSize}, piece.c_str(), directive, v);
  fuzzing::Check(smallComplete == (largeComplete && largeLength < smallSize),
                 smallComplete ? "reported complete, but was cut" : "reported cut, but fits",
                 piece);
  if (smallSize == 0) {
    return;
  }
  const std::size_t smallLength = wcsnlen(small.get(), smallSize);
  fuzzing::Check(smallLength < smallSize, "no terminator in the small buffer", piece);
  fuzzing::Check(std::wstring_view(small.get(), smallLength) ==
                     std::wstring_view(large.get(), std::min(largeLength, smallSize - 1)),
                 "a smaller buffer got other text", piece);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input = fuzzing::Bytes(data, size);
  const std::size_t formatEnd = std::min(input.find('\0'), input.size());
  const std::wstring format = fuzzing::Wide(input.substr(0, formatEnd));
  if (format.size() > 2000) {
    return -1;
  }
  const std::string_view rest = input.substr(std::min(formatEnd + 1, input.size()));
  FuzzedDataProvider values(reinterpret_cast<const std::uint8_t*>(rest.data()), rest.size());
  const std::size_t smallSize = values.ConsumeIntegralInRange<std::size_t>(0, 300);

  std::size_t start = 0;
  std::size_t at = 0;
  while (start < format.size()) {
    at = format.find(L'%', at);
    Directive directive;
    if (at == std::wstring::npos) {
      directive.end = format.size();
    } else {
      directive = Classify(format, at);
      if (!directive.TakesArguments()) {
        at = directive.end;
        continue;
      }
    }
    const Values v(values);
    CheckPiece(format.substr(start, directive.end - start), directive, v, smallSize);
    start = at = directive.end;
  }
  return 0;
}
