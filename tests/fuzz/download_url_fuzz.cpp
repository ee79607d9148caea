// BuildDownloadUrl: the download address made from the server address and a file name.
// Input: the server address, a line break, the file name (UTF-8). The result is compared with
// the address composed as the README describes it.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <memory>
#include <string>
#include <vector>

#include "loader/loader_context.h"
#include "settings/download_url.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

LoaderContext& Context() {
  fuzzing::ScratchDevice();
  static LoaderContext context;
  return context;
}

// The context's bytes outside serverAddress, which building a URL must not touch.
std::vector<unsigned char> OtherFields(const LoaderContext& context) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(&context);
  const auto* address = reinterpret_cast<const unsigned char*>(context.serverAddress);
  std::vector<unsigned char> other(bytes, address);
  other.insert(other.end(), address + sizeof context.serverAddress, bytes + sizeof context);
  return other;
}

bool HasScheme(const std::wstring& address) {
  auto starts = [&](std::wstring_view lower, std::wstring_view upper) {
    if (address.size() < lower.size()) {
      return false;
    }
    for (std::size_t i = 0; i < lower.size(); ++i) {
      if (address[i] != lower[i] && address[i] != upper[i]) {
        return false;
      }
    }
    return true;
  };
  return starts(L"http://", L"HTTP://") || starts(L"https://", L"HTTPS://");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  LoaderContext& context = Context();
  const auto [addressText, fileText] = fuzzing::SplitLine(fuzzing::Bytes(data, size));
  const std::wstring given = fuzzing::Wide(addressText);
  const std::wstring fileName = fuzzing::Wide(fileText);

  // A given address of MAX_PATH characters or more fills the buffer with no terminator.
  std::fill(std::begin(context.serverAddress), std::end(context.serverAddress), L'\0');
  std::copy_n(given.begin(), std::min<std::size_t>(given.size(), MAX_PATH), context.serverAddress);
  const std::size_t length = wcsnlen(context.serverAddress, MAX_PATH);
  const std::wstring before(context.serverAddress, length);

  // Exactly MAX_PATH characters, on the heap, so that one more is caught.
  const auto url = std::make_unique<wchar_t[]>(MAX_PATH);
  std::fill_n(url.get(), MAX_PATH, L'#');
  const std::vector<unsigned char> others = OtherFields(context);
  const bool built = BuildDownloadUrl(&context, url.get(), fileName.c_str());
  fuzzing::Check(OtherFields(context) == others, "wrote outside the server address", before);

  const std::wstring detail = before + L"  |  " + fileName.c_str();
  const bool canTakeSlash =
      length > 0 && length < MAX_PATH && (before.back() == L'/' || length + 1 < MAX_PATH);
  std::wstring after = before;
  if (canTakeSlash && before.back() != L'/') {
    after += L'/';
  }
  fuzzing::Check(
      std::wstring(context.serverAddress, wcsnlen(context.serverAddress, MAX_PATH)) == after,
      "the server address is not the one with its closing slash", detail);

  std::wstring expected;
  if (canTakeSlash) {
    expected = HasScheme(after) ? after + L"WebService/Downloads/" + fileName.c_str()
                                : L"http://" + after + L"FerroVanService/WebService/Downloads/" +
                                      fileName.c_str();
  }
  const bool fits = canTakeSlash && expected.size() < MAX_PATH;
  fuzzing::Check(built == fits,
                 built ? "built an address that cannot be right" : "refused an address that fits",
                 detail);
  const std::size_t urlLength = wcsnlen(url.get(), MAX_PATH);
  fuzzing::Check(urlLength < MAX_PATH, "the address has no terminator", detail);
  fuzzing::Check(std::wstring(url.get(), urlLength) == (fits ? expected : L""),
                 "the address differs from the one composed", detail);
  return 0;
}
