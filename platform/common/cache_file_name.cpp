#include "platform/common/cache_file_name.h"

#include <string_view>

namespace platform {
namespace {

constexpr std::size_t kMaxCacheNameLength = 100;

}  // namespace

std::string CacheFileNameFor(const wchar_t* url) {
  std::wstring_view text = url != nullptr ? url : L"";
  text = text.substr(0, text.find_first_of(L"?#"));
  if (const std::size_t slash = text.find_last_of(L'/'); slash != std::wstring_view::npos) {
    text = text.substr(slash + 1);
  }
  std::string name;
  for (const wchar_t c : text.substr(0, kMaxCacheNameLength)) {
    const bool safe = (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') ||
                      (c >= L'0' && c <= L'9') || c == L'.' || c == L'-' || c == L'_';
    name += safe ? static_cast<char>(c) : '_';
  }
  return name.empty() || name == "." || name == ".." ? std::string("download") : name;
}

}  // namespace platform
