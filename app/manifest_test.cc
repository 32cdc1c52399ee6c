#include "app/manifest.h"

#include <filesystem>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "tests/support/temp_dir.h"

namespace app {
namespace {

using Payload = AttachmentSpec::Payload;

std::vector<ItemSpec> Items(const std::string& json) {
  ManifestResult result = ParseManifest(json);
  EXPECT_TRUE(result.inputItems) << result.error;
  return result.inputItems.value_or(std::vector<ItemSpec>{});
}

std::string Error(const std::string& json) {
  ManifestResult result = ParseManifest(json);
  EXPECT_FALSE(result.inputItems) << json;
  EXPECT_FALSE(result.error.empty());
  return result.error;
}

TEST(ParseManifest, ItemsOfOtherKindsAndItemsWithoutAttachments) {
  const auto items = Items(R"({"inputItems": [42, "text", null, {}, {"attachments": null}, {"attachments": []}]})");
  ASSERT_EQ(items.size(), 6u);
  for (int i = 0; i < 3; ++i) EXPECT_FALSE(items[i].isExtensionItem) << i;
  EXPECT_TRUE(items[3].isExtensionItem);
  EXPECT_FALSE(items[3].attachments);
  EXPECT_FALSE(items[4].attachments);
  ASSERT_TRUE(items[5].attachments);
  EXPECT_TRUE(items[5].attachments->empty());
  EXPECT_TRUE(Items(R"({"inputItems": []})").empty());
}

TEST(ParseManifest, EachPayloadKindInOrder) {
  const auto items = Items(R"({"inputItems": [{"attachments": [
      {"types": ["public.plain-text"], "string": "hello"},
      {"types": ["public.url"], "url": "https://example.com/a?b#c"},
      {"types": ["public.jpeg", "public.image"], "data": "AP8gYWJj", "delayMs": 250},
      {"types": ["public.image"], "error": "The file is gone"},
      {"types": []}
  ]}]})");
  ASSERT_EQ(items.size(), 1u);
  ASSERT_TRUE(items[0].attachments);
  const auto& a = *items[0].attachments;
  ASSERT_EQ(a.size(), 5u);
  EXPECT_EQ(a[0].payload, Payload::string);
  EXPECT_EQ(a[0].value, "hello");
  EXPECT_EQ(a[1].payload, Payload::url);
  EXPECT_EQ(a[1].value, "https://example.com/a?b#c");
  EXPECT_EQ(a[2].types, (std::vector<std::string>{"public.jpeg", "public.image"}));
  EXPECT_EQ(a[2].payload, Payload::data);
  EXPECT_EQ(a[2].value, std::string("\x00\xff abc", 6));
  EXPECT_EQ(a[2].delayMs, 250);
  EXPECT_EQ(a[0].delayMs, 0);
  EXPECT_EQ(a[3].payload, Payload::error);
  EXPECT_EQ(a[3].value, "The file is gone");
  EXPECT_EQ(a[4].payload, Payload::none);
  EXPECT_TRUE(a[4].types.empty());
}

TEST(ParseManifest, DelayBounds) {
  auto delay = [](const std::string& value) {
    return R"({"inputItems": [{"attachments": [{"types": [], "delayMs": )" + value + "}]}]}";
  };
  EXPECT_EQ(Items(delay("0"))[0].attachments->at(0).delayMs, 0);
  EXPECT_EQ(Items(delay("600000"))[0].attachments->at(0).delayMs, 600000);
  for (const char* bad : {"-1", "600001", "1.5", "\"10\"", "true", "18446744073709551615", "1e3"}) {
    EXPECT_NE(Error(delay(bad)).find("inputItems[0].attachments[0].delayMs"), std::string::npos) << bad;
  }
}

TEST(ParseManifest, MalformedManifestsNameTheProblem) {
  const std::pair<const char*, const char*> cases[] = {
      {"", "not valid JSON"},
      {"{\"inputItems\": [", "not valid JSON"},
      {"[]", "top level must be an object"},
      {"{}", "\"inputItems\" is missing"},
      {R"({"inputItems": {}})", "inputItems: must be an array"},
      {R"({"inputItems": [], "extra": 1})", "unknown key \"extra\""},
      {R"({"inputItems": [{"attachments": {}}]})", "inputItems[0].attachments: must be an array"},
      {R"({"inputItems": [{"attachments": [1]}]})", "inputItems[0].attachments[0]: an attachment must be an object"},
      {R"({"inputItems": [{"attachments": [{}]}]})", "inputItems[0].attachments[0]: \"types\" is missing"},
      {R"({"inputItems": [{"attachments": [{"types": "public.image"}]}]})", ".types: must be an array"},
      {R"({"inputItems": [{}, {"attachments": [{"types": ["a", 3]}]}]})", "inputItems[1].attachments[0].types[1]: must be a string"},
      {R"({"inputItems": [{"attachments": [{"types": [], "string": "a", "url": "https://x"}]}]})",
       "\"string\" and \"url\" both given"},
      {R"({"inputItems": [{"attachments": [{"types": [], "data": "AA==", "error": "x"}]}]})",
       "\"data\" and \"error\" both given"},
      {R"({"inputItems": [{"attachments": [{"types": [], "string": 5}]}]})", ".string: must be a string"},
      {R"({"inputItems": [{"attachments": [{"types": [], "url": "not a url"}]}]})", ".url: \"not a url\" is not a valid URL"},
      {R"({"inputItems": [{"attachments": [{"types": [], "data": "*not base64*"}]}]})", ".data: not valid Base64"},
      {R"({"inputItems": [{"attachments": [{"types": [], "strng": "typo"}]}]})", "unknown key \"strng\""},
      // Duplicate keys: refused where they are, whichever value would win.
      {R"({"inputItems": [], "inputItems": [{}]})", "the top level: the key \"inputItems\" appears twice"},
      {R"({"inputItems": [{}, {"attachments": [{"types": []}, {"types": [], "url": "file:///a", "url": "file:///b"}]}]})",
       "inputItems[1].attachments[1]: the key \"url\" appears twice"},
      {R"({"inputItems": [{"attachments": [], "attachments": []}]})", "inputItems[0]: the key \"attachments\" appears twice"},
  };
  for (const auto& [json, expected] : cases) {
    EXPECT_NE(Error(json).find(expected), std::string::npos) << json << "\n -> " << Error(json);
  }
}

TEST(ParseManifest, ALargerManifestThanTheLimitIsRefusedUnparsed) {
  // Valid JSON, one byte too many.
  std::string text = R"({"inputItems": []})";
  text.resize(kMaxManifestBytes + 1, ' ');
  EXPECT_NE(Error(text).find("larger than 256 MiB"), std::string::npos);
  text.resize(kMaxManifestBytes);
  EXPECT_TRUE(ParseManifest(text).inputItems);
}

TEST(ReadManifest, FromFileOrStandardInput) {
  testsupport::TempDir temp;
  const auto path = temp.path() / "manifest.json";
  std::ofstream(path) << R"({"inputItems": [{"attachments": [{"types": ["public.plain-text"], "string": "from file"}]}]})";
  std::istringstream unused;
  auto fromFile = ReadManifest(path.string(), unused);
  ASSERT_TRUE(fromFile.inputItems) << fromFile.error;
  EXPECT_EQ(fromFile.inputItems->at(0).attachments->at(0).value, "from file");

  std::istringstream in(R"({"inputItems": [7]})");
  auto fromStdin = ReadManifest("-", in);
  ASSERT_TRUE(fromStdin.inputItems) << fromStdin.error;
  EXPECT_FALSE(fromStdin.inputItems->at(0).isExtensionItem);

  auto missing = ReadManifest((temp.path() / "missing.json").string(), unused);
  EXPECT_FALSE(missing.inputItems);
  EXPECT_NE(missing.error.find("missing.json"), std::string::npos) << missing.error;
  auto directory = ReadManifest(temp.path().string(), unused);
  EXPECT_FALSE(directory.inputItems);
  EXPECT_NE(directory.error.find("cannot read"), std::string::npos) << directory.error;
}

}  // namespace
}  // namespace app
