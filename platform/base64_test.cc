#include "platform/base64.h"

#include <gtest/gtest.h>

namespace platform {
namespace {

std::optional<std::string> Decoded(std::string_view text) {
  const std::optional<Data> data = Base64DecodedData(text);
  if (!data) return std::nullopt;
  return StringFromData(*data);
}

TEST(Base64DecodedData, StrictStandardAlphabetWithPadding) {
  EXPECT_EQ(Decoded(""), "");
  EXPECT_EQ(Decoded("YQ=="), "a");
  EXPECT_EQ(Decoded("YWI="), "ab");
  EXPECT_EQ(Decoded("YWJj"), "abc");
  EXPECT_EQ(Decoded("+/+/"), std::string("\xfb\xff\xbf", 3));
  for (const char* bad : {"YQ", "YQ=", "Y===", "====", "YW=j", "YWJj\n", "YW Jj", "-_-_", "YQ==YQ==", "YWJ\x80"}) {
    EXPECT_FALSE(Decoded(bad)) << bad;
  }
}

TEST(Base64DecodedData, UndoesTheEncoderForEveryByte) {
  Data bytes;
  for (int i = 0; i < 256; ++i) bytes.push_back(static_cast<std::uint8_t>(i));
  for (std::size_t length : {std::size_t{0}, std::size_t{1}, std::size_t{2}, std::size_t{3}, std::size_t{256}}) {
    const Data part(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(length));
    EXPECT_EQ(Base64DecodedData(Base64EncodedString(part)), part) << length;
  }
}

}  // namespace
}  // namespace platform
