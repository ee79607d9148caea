// The bounded formatter. Numbers are the C library's (snprintf, one directive at a time); the
// rest is done here because the library's wide formatting would get it wrong for the device:
// %s and %c mean wide text as on Windows, narrow arguments are the device's text whatever the
// process's locale (glibc's vswprintf fails on UTF-8 in the C locale), a cut result keeps its
// start and says it was cut (vswprintf only returns -1), and a huge width costs no time.
#include "platform/text.h"

#include <algorithm>
#include <climits>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <string>
#include <string_view>

#include "platform/host.h"

namespace platform {
namespace {

// Collects formatted output in a span: keeps the last slot for the terminator and remembers
// whether anything had to be dropped.
class WideWriter {
 public:
  explicit WideWriter(std::span<wchar_t> out) : out_(out) {}

  void Put(wchar_t c) {
    if (used_ + 1 < out_.size()) {
      out_[used_++] = c;
    } else {
      cut_ = true;
    }
  }
  void Repeat(wchar_t c, std::size_t count) {
    for (std::size_t i = 0; i < count && !cut_; ++i) {
      Put(c);
    }
  }
  void PutAscii(std::string_view text) {
    for (char c : text) {
      Put(static_cast<wchar_t>(static_cast<unsigned char>(c)));
    }
  }
  std::size_t Capacity() const { return out_.size(); }
  bool Finish() {
    if (out_.empty()) {
      return false;
    }
    out_[used_] = L'\0';
    return !cut_;
  }

 private:
  std::span<wchar_t> out_;
  std::size_t used_ = 0;
  bool cut_ = false;
};

struct Args {
  va_list list;
};

enum class Length { None, Char, Short, Long, LongLong, Max, Size, PtrDiff, LongDouble };

struct Conversion {
  std::string flags;
  int width = -1;
  int precision = -1;
  Length length = Length::None;
  wchar_t kind = 0;
  bool LeftJustified() const { return flags.find('-') != std::string::npos; }
};

int ReadNumber(const wchar_t*& p) {
  int value = 0;
  while (*p >= L'0' && *p <= L'9') {
    value = std::min(value * 10 + static_cast<int>(*p - L'0'), INT_MAX / 10 - 1);
    ++p;
  }
  return value;
}

// Reads flags, width, precision and length after a '%'; p is left on the conversion letter.
Conversion ReadConversion(const wchar_t*& p, Args& args) {
  Conversion conversion;
  while (*p != L'\0' && std::wcschr(L"-+ #0", *p) != nullptr) {
    conversion.flags += static_cast<char>(*p++);
  }
  if (*p == L'*') {
    ++p;
    conversion.width = va_arg(args.list, int);
    if (conversion.width < 0) {
      conversion.flags += '-';
      conversion.width = conversion.width == INT_MIN ? INT_MAX : -conversion.width;
    }
  } else if (*p >= L'0' && *p <= L'9') {
    conversion.width = ReadNumber(p);
  }
  if (*p == L'.') {
    ++p;
    if (*p == L'*') {
      ++p;
      conversion.precision = std::max(va_arg(args.list, int), -1);
    } else {
      conversion.precision = ReadNumber(p);
    }
  }
  switch (*p) {
    case L'h':
      ++p;
      conversion.length = *p == L'h' ? (++p, Length::Char) : Length::Short;
      break;
    case L'l':
      ++p;
      conversion.length = *p == L'l' ? (++p, Length::LongLong) : Length::Long;
      break;
    case L'j':
      ++p;
      conversion.length = Length::Max;
      break;
    case L'z':
      ++p;
      conversion.length = Length::Size;
      break;
    case L't':
      ++p;
      conversion.length = Length::PtrDiff;
      break;
    case L'L':
      ++p;
      conversion.length = Length::LongDouble;
      break;
    default:
      break;
  }
  conversion.kind = *p;
  return conversion;
}

// The narrow printf directive for a numeric conversion, with the given width and precision
// (negative: none).
std::string NarrowDirective(const Conversion& conversion, long long width, long long precision,
                            const char* length) {
  std::string directive = "%" + conversion.flags;
  if (width >= 0) {
    directive += std::to_string(width);
  }
  if (precision >= 0) {
    directive += '.';
    directive += std::to_string(precision);
  }
  directive += length;
  directive += static_cast<char>(conversion.kind);
  return directive;
}

template <class T>
long long MeasureNumber(const std::string& directive, T value) {
  return std::snprintf(nullptr, 0, directive.c_str(), value);
}

// Formats a number through printf without letting an absurd width or precision make a huge
// temporary, while showing what the whole result would show in the span.
//
// The precision is bounded past every digit a long double can have, so the digits up to the
// bound are the same. The text is measured without its width: past the bound it either grows by
// one character per digit asked for (integers, %f, %e, %a, %#g) or not at all (%g), which
// gives the whole result's length. The width then pads that length, the padding bounded to
// what the span can hold, so padding, sign and zeros fall where the whole result has them.
template <class T>
void PutNumber(WideWriter& writer, const Conversion& conversion, const char* length, T value) {
  const auto capacity = static_cast<long long>(writer.Capacity());
  const long long precision = std::min<long long>(conversion.precision, capacity + 20000);
  const long long measured =
      MeasureNumber(NarrowDirective(conversion, -1, precision, length), value);
  if (measured < 0) {
    return;
  }
  long long wholeLength = measured;
  if (precision < conversion.precision &&
      MeasureNumber(NarrowDirective(conversion, -1, precision + 1, length), value) > measured) {
    wholeLength += conversion.precision - precision;
  }
  const long long width =
      conversion.width > wholeLength
          ? measured + std::min<long long>(conversion.width - wholeLength, capacity)
          : -1;
  const std::string directive = NarrowDirective(conversion, width, precision, length);
  const long long size = MeasureNumber(directive, value);
  if (size <= 0) {
    return;
  }
  std::string text(static_cast<std::size_t>(size) + 1, '\0');
  std::snprintf(text.data(), text.size(), directive.c_str(), value);
  text.resize(static_cast<std::size_t>(size));
  writer.PutAscii(text);
}

void PutPadded(WideWriter& writer, const Conversion& conversion, std::wstring_view text) {
  if (conversion.precision >= 0) {
    text = text.substr(0, static_cast<std::size_t>(conversion.precision));
  }
  const std::size_t padding =
      conversion.width > 0 && static_cast<std::size_t>(conversion.width) > text.size()
          ? static_cast<std::size_t>(conversion.width) - text.size()
          : 0;
  if (!conversion.LeftJustified()) {
    writer.Repeat(L' ', padding);
  }
  for (wchar_t c : text) {
    writer.Put(c);
  }
  if (conversion.LeftJustified()) {
    writer.Repeat(L' ', padding);
  }
}

void PutSigned(WideWriter& writer, const Conversion& conversion, Args& args) {
  long long value = 0;
  switch (conversion.length) {
    case Length::Char:
      value = static_cast<signed char>(va_arg(args.list, int));
      break;
    case Length::Short:
      value = static_cast<short>(va_arg(args.list, int));
      break;
    case Length::Long:
      value = va_arg(args.list, long);
      break;
    case Length::LongLong:
      value = va_arg(args.list, long long);
      break;
    case Length::Max:
      value = va_arg(args.list, std::intmax_t);
      break;
    case Length::Size:
    case Length::PtrDiff:
      value = va_arg(args.list, std::ptrdiff_t);
      break;
    default:
      value = va_arg(args.list, int);
      break;
  }
  PutNumber(writer, conversion, "ll", value);
}

void PutUnsigned(WideWriter& writer, const Conversion& conversion, Args& args) {
  unsigned long long value = 0;
  switch (conversion.length) {
    case Length::Char:
      value = static_cast<unsigned char>(va_arg(args.list, unsigned));
      break;
    case Length::Short:
      value = static_cast<unsigned short>(va_arg(args.list, unsigned));
      break;
    case Length::Long:
      value = va_arg(args.list, unsigned long);
      break;
    case Length::LongLong:
      value = va_arg(args.list, unsigned long long);
      break;
    case Length::Max:
      value = va_arg(args.list, std::uintmax_t);
      break;
    case Length::Size:
    case Length::PtrDiff:
      value = va_arg(args.list, std::size_t);
      break;
    default:
      value = va_arg(args.list, unsigned);
      break;
  }
  PutNumber(writer, conversion, "ll", value);
}

void PutFloating(WideWriter& writer, const Conversion& conversion, Args& args) {
  if (conversion.length == Length::LongDouble) {
    PutNumber(writer, conversion, "L", va_arg(args.list, long double));
  } else {
    PutNumber(writer, conversion, "", va_arg(args.list, double));
  }
}

// %s is a wide string and %hs a narrow one, as on the device; %S is the narrow one too.
void PutString(WideWriter& writer, const Conversion& conversion, bool narrow, Args& args) {
  if (narrow) {
    const char* text = va_arg(args.list, const char*);
    PutPadded(writer, conversion, text != nullptr ? WidenNarrowText(text) : L"(null)");
  } else {
    const wchar_t* text = va_arg(args.list, const wchar_t*);
    PutPadded(writer, conversion, text != nullptr ? std::wstring_view(text) : L"(null)");
  }
}

void PutCharacter(WideWriter& writer, const Conversion& conversion, bool narrow, Args& args) {
  Conversion whole = conversion;
  whole.precision = -1;
  if (narrow) {
    const char byte = static_cast<char>(va_arg(args.list, int));
    PutPadded(writer, whole, WidenNarrowText(std::string_view(&byte, 1)));
  } else {
    // A wide character arrives promoted: to int where wchar_t is 16 bits, as itself elsewhere.
    const auto character = static_cast<wchar_t>(va_arg(args.list, unsigned int));
    PutPadded(writer, whole, std::wstring_view(&character, 1));
  }
}

bool FormatWide(std::span<wchar_t> out, const wchar_t* format, Args& args) {
  WideWriter writer(out);
  if (format == nullptr) {
    writer.Finish();
    return false;
  }
  for (const wchar_t* p = format; *p != L'\0'; ++p) {
    if (*p != L'%') {
      writer.Put(*p);
      continue;
    }
    const wchar_t* start = p++;
    const Conversion conversion = ReadConversion(p, args);
    const bool shortLength = conversion.length == Length::Short;
    switch (conversion.kind) {
      case L'%':
        writer.Put(L'%');
        break;
      case L'd':
      case L'i':
        PutSigned(writer, conversion, args);
        break;
      case L'u':
      case L'o':
      case L'x':
      case L'X':
        PutUnsigned(writer, conversion, args);
        break;
      case L'f':
      case L'F':
      case L'e':
      case L'E':
      case L'g':
      case L'G':
      case L'a':
      case L'A':
        PutFloating(writer, conversion, args);
        break;
      case L's':
      case L'S':
        PutString(writer, conversion, shortLength || conversion.kind == L'S', args);
        break;
      case L'c':
      case L'C':
        PutCharacter(writer, conversion, shortLength || conversion.kind == L'C', args);
        break;
      case L'p':
        PutNumber(writer, conversion, "", va_arg(args.list, void*));
        break;
      case L'\0':
        --p;  // a lone '%' at the end: nothing to show, and the loop must see the terminator
        break;
      default:
        // Unknown directives (and %n, which would write through an argument) are shown as
        // written and consume no argument.
        for (const wchar_t* q = start; q <= p; ++q) {
          writer.Put(*q);
        }
        break;
    }
  }
  return writer.Finish();
}

}  // namespace

bool FormatText(std::span<wchar_t> out, const wchar_t* format, ...) {
  Args args;
  va_start(args.list, format);
  const bool complete = FormatWide(out, format, args);
  va_end(args.list);
  return complete;
}

bool FormatNarrow(std::span<char> out, const char* format, ...) {
  if (out.empty()) {
    return false;
  }
  if (format == nullptr) {
    out[0] = '\0';
    return false;
  }
  va_list args;
  va_start(args, format);
  const int size = std::vsnprintf(out.data(), out.size(), format, args);
  va_end(args);
  if (size < 0) {
    out[0] = '\0';
    return false;
  }
  return static_cast<std::size_t>(size) < out.size();
}

}  // namespace platform
