// The host's narrow text, which stands in for the device's ANSI code page, is UTF-8.
#include "platform/host.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "platform/text.h"

namespace platform {
namespace {

// UTF-8 is encoded and decoded here by hand so that no conversion depends on the process locale.

constexpr char32_t kReplacement = 0xFFFD;

// The UTF-8 form of one wide character into bytes; returns its length (1 to 4).
int EncodeOne(wchar_t character, char (&bytes)[4]) {
  auto c = static_cast<std::uint32_t>(character);
  if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
    c = '?';
  }
  if (c < 0x80) {
    bytes[0] = static_cast<char>(c);
    return 1;
  }
  if (c < 0x800) {
    bytes[0] = static_cast<char>(0xC0 | (c >> 6));
    bytes[1] = static_cast<char>(0x80 | (c & 0x3F));
    return 2;
  }
  if (c < 0x10000) {
    bytes[0] = static_cast<char>(0xE0 | (c >> 12));
    bytes[1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    bytes[2] = static_cast<char>(0x80 | (c & 0x3F));
    return 3;
  }
  bytes[0] = static_cast<char>(0xF0 | (c >> 18));
  bytes[1] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
  bytes[2] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
  bytes[3] = static_cast<char>(0x80 | (c & 0x3F));
  return 4;
}

// Decodes the code point at pos and moves pos past it. A malformed sequence yields one U+FFFD
// for its longest valid-looking start (the usual "maximal subpart" rule), so that decoding
// resynchronises on the next byte that can begin a character.
wchar_t DecodeOne(std::string_view text, std::size_t& pos) {
  const auto lead = static_cast<unsigned char>(text[pos++]);
  if (lead < 0x80) {
    return static_cast<wchar_t>(lead);
  }
  int following = 0;
  std::uint32_t code = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    following = 1;
    code = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    following = 2;
    code = lead & 0x0F;
    low = lead == 0xE0 ? 0xA0 : low;    // overlong forms
    high = lead == 0xED ? 0x9F : high;  // surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    following = 3;
    code = lead & 0x07;
    low = lead == 0xF0 ? 0x90 : low;    // overlong forms
    high = lead == 0xF4 ? 0x8F : high;  // above U+10FFFF
  } else {
    return static_cast<wchar_t>(kReplacement);
  }
  for (int i = 0; i < following; ++i) {
    if (pos >= text.size()) {
      return static_cast<wchar_t>(kReplacement);
    }
    const auto byte = static_cast<unsigned char>(text[pos]);
    if (byte < low || byte > high) {
      return static_cast<wchar_t>(kReplacement);
    }
    low = 0x80;
    high = 0xBF;
    code = (code << 6) | (byte & 0x3F);
    ++pos;
  }
  return static_cast<wchar_t>(code);
}

}  // namespace

std::string WideToUtf8(std::wstring_view text) {
  std::string result;
  result.reserve(text.size());
  char bytes[4];
  for (wchar_t c : text) {
    result.append(bytes, static_cast<std::size_t>(EncodeOne(c, bytes)));
  }
  return result;
}

std::wstring Utf8ToWide(std::string_view text) {
  std::wstring result;
  result.reserve(text.size());
  for (std::size_t pos = 0; pos < text.size();) {
    result.push_back(DecodeOne(text, pos));
  }
  return result;
}

bool WideToNarrow(std::span<char> out, const wchar_t* text) {
  std::size_t used = 0;
  bool fits = !out.empty() && text != nullptr;
  char bytes[4];
  for (const wchar_t* p = text; fits && *p != L'\0'; ++p) {
    const auto size = static_cast<std::size_t>(EncodeOne(*p, bytes));
    fits = used + size < out.size();
    if (fits) {
      std::memcpy(out.data() + used, bytes, size);
      used += size;
    }
  }
  if (!out.empty()) {
    out[fits ? used : 0] = '\0';
  }
  return fits;
}

bool NarrowToWide(std::span<wchar_t> out, const char* text) {
  std::size_t used = 0;
  bool fits = !out.empty() && text != nullptr;
  const std::string_view view = text != nullptr ? std::string_view(text) : std::string_view();
  for (std::size_t pos = 0; fits && pos < view.size();) {
    const wchar_t c = DecodeOne(view, pos);
    fits = used + 1 < out.size();
    if (fits) {
      out[used++] = c;
    }
  }
  if (!out.empty()) {
    out[fits ? used : 0] = L'\0';
  }
  return fits;
}

// The narrow text that stands in for the device's ANSI code page is UTF-8.
std::wstring WidenNarrowText(std::string_view text) {
  return Utf8ToWide(text);
}

}  // namespace platform
