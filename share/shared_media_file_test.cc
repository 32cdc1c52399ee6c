#include "share/shared_media_file.h"

#include <cmath>
#include <limits>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace halvernsignet_mobile_Share {
namespace {

std::string Encode(std::vector<std::shared_ptr<SharedMediaFile>> list) {
  auto bytes = encodeMediaList(list);
  EXPECT_TRUE(bytes.has_value());
  return bytes ? platform::StringFromData(*bytes) : std::string();
}

std::shared_ptr<SharedMediaFile> Record(std::string path, std::optional<std::string> thumbnail,
                                        std::optional<double> duration, SharedMediaType type) {
  return std::make_shared<SharedMediaFile>(std::move(path), std::move(thumbnail), duration, type);
}

TEST(EncodeMediaList, WritesCompactObjectsInKeyOrderWithoutAbsentKeys) {
  const std::string json = Encode({
      Record("file:///c/A.HEIC", std::nullopt, std::nullopt, SharedMediaType::image),
      Record("file:///c/B.mp4", "file:///c/QjUu.jpg", 257.0, SharedMediaType::video),
      Record("file:///c/Travel%20notes.pdf", std::nullopt, std::nullopt, SharedMediaType::file),
  });
  // Whole milliseconds without a fraction, no nulls, no blanks.
  EXPECT_EQ(json,
            R"([{"path":"file:///c/A.HEIC","type":0},)"
            R"({"path":"file:///c/B.mp4","thumbnail":"file:///c/QjUu.jpg","duration":257,"type":1},)"
            R"({"path":"file:///c/Travel%20notes.pdf","type":2}])");
}

TEST(EncodeMediaList, EmptyListIsEmptyArray) { EXPECT_EQ(Encode({}), "[]"); }

TEST(EncodeMediaList, FractionalDurationReadsBackExactly) {
  const std::string json = Encode({Record("p", "t", 0.5, SharedMediaType::video)});
  EXPECT_EQ(nlohmann::json::parse(json)[0]["duration"].get<double>(), 0.5);
}

TEST(EncodeMediaList, NonFiniteDurationFailsTheWholeList) {
  for (double bad : {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
                     -std::numeric_limits<double>::infinity()}) {
    EXPECT_FALSE(encodeMediaList({Record("a", std::nullopt, std::nullopt, SharedMediaType::image),
                                  Record("b", "t", bad, SharedMediaType::video)})
                     .has_value());
  }
}

TEST(EncodeMediaList, EscapesStringsIntoValidJson) {
  const std::string json = Encode({Record("file:///c/\"q\"\\\n\xC3\xA9", std::nullopt, std::nullopt,
                                          SharedMediaType::file)});
  EXPECT_EQ(nlohmann::json::parse(json)[0]["path"], "file:///c/\"q\"\\\n\xC3\xA9");
}

TEST(EncodeMediaList, WritesTheBytesAJsonDocumentOfTheListWouldDump) {
  struct Case {
    std::string path;
    std::optional<std::string> thumbnail;
    std::optional<double> duration;
  };
  const std::vector<Case> cases = {
      {"file:///c/plain%20name.txt", std::nullopt, std::nullopt},
      {"q\"uote", "back\\slash", 0.5},
      {"tab\tnew\nline\x01\x1f", "del\x7f", 1e300},
      {"\xC3\xA9t\xC3\xA9/\xF0\x9F\x98\x80", "", -0.0},
      {"", std::nullopt, 9007199254740993.0},
  };
  for (const Case& c : cases) {
    nlohmann::ordered_json object = {{"path", c.path}};
    if (c.thumbnail) object["thumbnail"] = *c.thumbnail;
    if (c.duration) {
      const double d = *c.duration;
      object["duration"] = std::trunc(d) == d && std::fabs(d) <= 9007199254740992.0
                               ? nlohmann::ordered_json(static_cast<std::int64_t>(d))
                               : nlohmann::ordered_json(d);
    }
    object["type"] = 1;
    const std::string expected = "[" + object.dump() + "," + object.dump() + "]";
    const auto record = Record(c.path, c.thumbnail, c.duration, SharedMediaType::video);
    EXPECT_EQ(Encode({record, record}), expected) << c.path;
  }
}

TEST(DecodeSharedMediaFile, ReadsOptionalKeysAndRejectsBadObjects) {
  auto movie = decodeSharedMediaFile(R"({"type":1,"duration":257,"thumbnail":"t","path":"p","extra":[1]})");
  ASSERT_TRUE(movie);
  EXPECT_EQ(movie->path, "p");
  EXPECT_EQ(movie->thumbnail, "t");
  EXPECT_EQ(movie->duration, 257.0);
  EXPECT_EQ(movie->type, SharedMediaType::video);

  auto image = decodeSharedMediaFile(R"({"path":"p","thumbnail":null,"type":0})");
  ASSERT_TRUE(image);
  EXPECT_FALSE(image->thumbnail);
  EXPECT_FALSE(image->duration);

  for (const char* bad : {R"({"type":0})", R"({"path":"p"})", R"({"path":"p","type":3})",
                          R"({"path":"p","type":-1})", R"({"path":"p","type":1.5})", R"({"path":1,"type":0})",
                          R"({"path":"p","type":"0"})", R"({"path":"p","thumbnail":5,"type":0})",
                          R"({"path":"p","duration":"1","type":1})", R"([])", "not json"}) {
    EXPECT_FALSE(decodeSharedMediaFile(bad)) << bad;
  }
}

TEST(DecodeMediaList, ReadsAWholeListOrRefusesItWithTheFirstReason) {
  std::string reason;
  auto list = decodeMediaList(R"([{"path":"a","type":0},{"path":"b","thumbnail":"t","duration":4000,"type":1}])",
                              &reason);
  ASSERT_TRUE(list) << reason;
  ASSERT_EQ(list->size(), 2u);
  EXPECT_EQ((*list)[1].thumbnail, "t");
  EXPECT_TRUE(decodeMediaList("[]").has_value());

  const struct {
    const char* json;
    const char* reason;
  } refused[] = {
      {R"({"path":"a","type":0})", "not a JSON array"},
      {R"([{"path":"a","type":0)", "not valid JSON"},
      {R"([{"path":"a","type":0},7])", "record 2: not a JSON object"},
      {R"([{"type":0}])", "record 1: \"path\" is missing"},
      {R"([{"path":["a"],"type":0}])", "record 1: \"path\" is not a string"},
      {R"([{"path":"a","thumbnail":{},"type":1}])", "record 1: \"thumbnail\" is neither a string nor null"},
      {R"([{"path":"a","duration":true,"type":1}])", "record 1: \"duration\" is neither a number nor null"},
      {R"([{"path":"a"}])", "record 1: \"type\" is missing"},
      {R"([{"path":"a","type":0.0}])", "record 1: \"type\" is not an integer"},
      {R"([{"path":"a","type":18446744073709551615}])", "record 1: \"type\" is not 0, 1 or 2"},
      {R"([{"path":"a","type":-9223372036854775808}])", "record 1: \"type\" is not 0, 1 or 2"},
  };
  for (const auto& c : refused) {
    reason.clear();
    EXPECT_FALSE(decodeMediaList(c.json, &reason)) << c.json;
    EXPECT_EQ(reason, c.reason) << c.json;
  }
}

TEST(SharedMediaTypes, RawValuesTextFormsAndKeys) {
  EXPECT_EQ(SharedMediaTypeFromRawValue(0), SharedMediaType::image);
  EXPECT_EQ(SharedMediaTypeFromRawValue(1), SharedMediaType::video);
  EXPECT_EQ(SharedMediaTypeFromRawValue(2), SharedMediaType::file);
  EXPECT_FALSE(SharedMediaTypeFromRawValue(3));
  EXPECT_FALSE(SharedMediaTypeFromRawValue(-1));

  EXPECT_EQ(TextForm(RedirectType::media), "media");
  EXPECT_EQ(TextForm(RedirectType::text), "text");
  EXPECT_EQ(TextForm(RedirectType::file), "file");

  EXPECT_EQ(SharedMediaFile::codingKeyFromString("duration"), SharedMediaFile::CodingKeys::duration);
  EXPECT_FALSE(SharedMediaFile::codingKeyFromString("Path"));
}

}  // namespace
}  // namespace halvernsignet_mobile_Share
