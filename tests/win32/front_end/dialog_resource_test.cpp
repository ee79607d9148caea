// The dialog and icon resources compiled into the program against the template the other front
// ends use: the two come from one header and must never differ.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "resources/dialog_template.h"

namespace {

// Reads a resource's bytes in the layout the resource compiler gives them.
class Reader {
 public:
  Reader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  std::uint16_t Word() {
    std::uint16_t value = 0;
    if (Need(2)) {
      std::memcpy(&value, data_ + at_, 2);
      at_ += 2;
    }
    return value;
  }
  std::uint32_t Dword() {
    const std::uint32_t low = Word();
    return low | (static_cast<std::uint32_t>(Word()) << 16);
  }
  // A name or ordinal: 0xFFFF then a number, or a terminated wide string.
  std::wstring NameOrOrdinal() {
    std::uint16_t first = Word();
    if (first == 0xFFFF) {
      return L"#" + std::to_wstring(Word());
    }
    std::wstring text;
    for (; first != 0 && !failed_; first = Word()) {
      text += static_cast<wchar_t>(first);
    }
    return text;
  }
  void AlignToDword() { at_ = (at_ + 3) & ~std::size_t{3}; }
  bool Failed() const { return failed_; }

 private:
  bool Need(std::size_t bytes) {
    failed_ = failed_ || at_ + bytes > size_;
    return !failed_;
  }
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
  bool failed_ = false;
};

std::vector<std::uint8_t> LoadOwnResource(int id, const wchar_t* type) {
  const HMODULE module = GetModuleHandleW(nullptr);
  const HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(static_cast<WORD>(id)), type);
  if (found == nullptr) {
    return {};
  }
  const auto* data = static_cast<const std::uint8_t*>(LockResource(LoadResource(module, found)));
  return data == nullptr ? std::vector<std::uint8_t>()
                         : std::vector<std::uint8_t>(data, data + SizeofResource(module, found));
}

// What the resource compiler names each kind of control by.
std::wstring ClassOf(platform::ControlKind kind) {
  switch (kind) {
    case platform::ControlKind::DefaultPushButton:
    case platform::ControlKind::PushButton:
      return L"BUTTON";
    case platform::ControlKind::Edit:
      return L"EDIT";
    case platform::ControlKind::Static:
      return L"STATIC";
  }
  return L"";
}

TEST(DialogResourceTest, TheCompiledDialogIsTheTemplateOfTheOtherFrontEnds) {
  const platform::DialogTemplate& expected =
      *resources::FindDialogTemplate(resources::kLoaderDialogId);
  ASSERT_EQ(expected.resourceId, resources::kLoaderDialogId);
  const std::vector<std::uint8_t> bytes = LoadOwnResource(expected.resourceId, RT_DIALOG);
  ASSERT_FALSE(bytes.empty()) << "no dialog resource " << expected.resourceId;

  Reader dialog(bytes.data(), bytes.size());
  EXPECT_EQ(dialog.Dword(), expected.style);
  EXPECT_EQ(dialog.Dword(), 0u) << "extended style";
  const std::uint16_t count = dialog.Word();
  EXPECT_EQ(dialog.Word(), expected.x);
  EXPECT_EQ(dialog.Word(), expected.y);
  EXPECT_EQ(dialog.Word(), expected.width);
  EXPECT_EQ(dialog.Word(), expected.height);
  EXPECT_EQ(dialog.NameOrOrdinal(), L"") << "menu";
  EXPECT_EQ(dialog.NameOrOrdinal(), L"") << "class";
  EXPECT_EQ(dialog.NameOrOrdinal(), L"") << "title";
  EXPECT_EQ(dialog.Word(), expected.fontPointSize);
  EXPECT_EQ(dialog.NameOrOrdinal(), expected.fontName);
  ASSERT_EQ(count, expected.controls.size());

  for (const platform::ControlTemplate& control : expected.controls) {
    SCOPED_TRACE(control.id);
    dialog.AlignToDword();
    const std::uint32_t style = dialog.Dword();
    EXPECT_EQ(style & ~static_cast<std::uint32_t>(WS_VISIBLE), control.style & ~WS_VISIBLE);
    EXPECT_EQ((style & WS_VISIBLE) != 0, control.visible);
    EXPECT_EQ(control.visible, (control.style & WS_VISIBLE) != 0);
    EXPECT_EQ(dialog.Dword(), 0u) << "extended style";
    EXPECT_EQ(dialog.Word(), control.x);
    EXPECT_EQ(dialog.Word(), control.y);
    EXPECT_EQ(dialog.Word(), control.width);
    EXPECT_EQ(dialog.Word(), control.height);
    EXPECT_EQ(dialog.Word(), control.id);
    EXPECT_EQ(dialog.NameOrOrdinal(), ClassOf(control.kind));
    EXPECT_EQ(dialog.NameOrOrdinal(), control.text);
    EXPECT_EQ(dialog.Word(), 0u) << "creation data";
  }
  EXPECT_FALSE(dialog.Failed()) << "the resource ended early";
}

TEST(DialogResourceTest, TheIconHoldsFourSquareImagesOf24Bits) {
  const std::vector<std::uint8_t> group =
      LoadOwnResource(resources::kLoaderIconId, MAKEINTRESOURCEW(14));  // RT_GROUP_ICON
  ASSERT_FALSE(group.empty());
  Reader entries(group.data(), group.size());
  EXPECT_EQ(entries.Word(), 0u);
  EXPECT_EQ(entries.Word(), 1u) << "an icon, not a cursor";
  ASSERT_EQ(entries.Word(), 4u);
  std::vector<int> sizes;
  for (int image = 0; image < 4; ++image) {
    const std::uint16_t widthAndHeight = entries.Word();
    EXPECT_EQ(widthAndHeight & 0xFF, widthAndHeight >> 8) << "square";
    sizes.push_back(widthAndHeight & 0xFF);
    entries.Word();  // colour count and reserved
    EXPECT_EQ(entries.Word(), 1u) << "planes";
    EXPECT_EQ(entries.Word(), 24u) << "bits per pixel";
    entries.Dword();  // bytes
    const int id = entries.Word();
    EXPECT_FALSE(LoadOwnResource(id, MAKEINTRESOURCEW(3)).empty()) << "image " << id;  // RT_ICON
  }
  EXPECT_EQ(sizes, (std::vector<int>{16, 32, 48, 64}));
  EXPECT_FALSE(entries.Failed());
}

}  // namespace
