#include "receive/receiver.h"

#include <filesystem>
#include <functional>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/linux/suite/plist_suite_file.h"
#include "tests/support/temp_dir.h"

namespace halvernsignet_receive {
namespace {

namespace fs = std::filesystem;
namespace lp = platform::linux_platform;

constexpr const char* kGroup = "group.com.example.receiver";

// A suite holding `shareKeyXml` (a plist value, or nothing) and another key
// that every take must keep.
void WriteSuite(const fs::path& configHome, const std::string& shareKeyXml) {
  std::ofstream(configHome / (std::string(kGroup) + ".plist"), std::ios::binary)
      << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<plist version=\"1.0\"><dict>"
      << (shareKeyXml.empty() ? "" : "<key>ShareKey</key>" + shareKeyXml)
      << "<key>other</key><string>kept</string></dict></plist>\n";
}

// Which of the suite's two keys ("ShareKey", "other") it holds now.
std::vector<std::string> SuiteKeys(const fs::path& configHome) {
  const lp::PlistSuiteFile suite(configHome.string(), kGroup);
  platform::StatusOr<lp::PlistPtr> root = suite.read();
  EXPECT_TRUE(root.ok()) << root.status().message();
  std::vector<std::string> keys;
  if (!root.ok()) return keys;
  for (const char* key : {"ShareKey", "other"}) {
    if (plist_dict_get_item(root->get(), key) != nullptr) keys.emplace_back(key);
  }
  return keys;
}

struct ReceiverTest : ::testing::Test {
  testsupport::TempDir tmp;
  fs::path config = tmp.path() / "config";
  fs::path data = tmp.path() / "data";
  fs::path container = data / "group-containers" / kGroup;

  ReceiverTest() {
    fs::create_directories(config);
    fs::create_directories(container);
  }
  ReceiveOptions options(bool take, std::function<bool(const Receipt&)> deliver) const {
    ReceiveOptions o;
    o.appGroupIdentifier = kGroup;
    o.configHome = config.string();
    o.dataHome = data.string();
    o.take = take;
    o.deliver = std::move(deliver);
    return o;
  }
};

// The payload leaves the suite only when it was taken and handed on whole; a
// hand-over that fails keeps it for the next reader, and the caller hears of
// the failure.
TEST_F(ReceiverTest, TakesThePayloadOnlyOnceItWasHandedOn) {
  struct Case {
    const char* name;
    bool take;
    bool delivered;  // what `deliver` returns
    Receipt::Outcome outcome;
    std::vector<std::string> keysAfter;
  };
  const std::vector<std::string> both = {"ShareKey", "other"};
  const Case cases[] = {
      {"read, handed on", false, true, Receipt::Outcome::read, both},
      {"read, not handed on", false, false, Receipt::Outcome::failed, both},
      {"taken, handed on", true, true, Receipt::Outcome::read, {"other"}},
      {"taken, not handed on", true, false, Receipt::Outcome::failed, both},
  };
  for (const Case& c : cases) {
    WriteSuite(config, "<array><string>one</string><string>two</string></array>");
    std::vector<std::vector<std::string>> handed;
    const Receipt receipt = Receive(options(c.take, [&](const Receipt& r) {
      handed.push_back(r.texts);
      return c.delivered;
    }));
    EXPECT_EQ(static_cast<int>(receipt.outcome), static_cast<int>(c.outcome)) << c.name << ": " << receipt.error;
    EXPECT_EQ(handed, (std::vector<std::vector<std::string>>{{"one", "two"}})) << c.name;
    EXPECT_EQ(SuiteKeys(config), c.keysAfter) << c.name;
    if (c.outcome == Receipt::Outcome::failed) {
      EXPECT_NE(receipt.error.find("handed on"), std::string::npos) << c.name;
    }
  }
}

// Nothing, or a payload that is refused, is never handed on nor taken.
TEST_F(ReceiverTest, HandsOnNothingThatIsMissingOrRefused) {
  struct Case {
    const char* name;
    std::string shareKeyXml;
    Receipt::Outcome outcome;
  };
  const Case cases[] = {
      {"no payload", "", Receipt::Outcome::nothing},
      {"a number", "<integer>7</integer>", Receipt::Outcome::failed},
      {"data that is no media list", "<data>bm90IGpzb24=</data>", Receipt::Outcome::failed},
  };
  for (const Case& c : cases) {
    WriteSuite(config, c.shareKeyXml);
    int calls = 0;
    const Receipt receipt = Receive(options(true, [&](const Receipt&) { return ++calls > 0; }));
    EXPECT_EQ(static_cast<int>(receipt.outcome), static_cast<int>(c.outcome)) << c.name;
    EXPECT_EQ(calls, 0) << c.name;
    EXPECT_EQ(SuiteKeys(config).size(), c.shareKeyXml.empty() ? 1u : 2u) << c.name;
  }
}

// Each record is checked against the container before it is handed on: what
// is not a file inside it is marked, and the caller decides.
TEST_F(ReceiverTest, MarksRecordsThatNameNoFileInTheContainer) {
  std::ofstream(container / "A.jpg") << "a";
  std::ofstream(tmp.path() / "outside.jpg") << "o";
  const std::string json = "[{\"path\":\"file://" + (container / "A.jpg").string() +
                           "\",\"type\":0},{\"path\":\"file://" + (container / "gone.jpg").string() +
                           "\",\"type\":0},{\"path\":\"file://" + (tmp.path() / "outside.jpg").string() +
                           "\",\"type\":2}]";
  // The suite holds the JSON as data, as the share program writes it.
  const lp::PlistSuiteFile suite(config.string(), kGroup);
  plist_t root = plist_new_dict();
  plist_dict_set_item(root, "ShareKey", plist_new_data(json.data(), json.size()));
  ASSERT_TRUE(suite.write(root).ok());
  plist_free(root);

  const Receipt receipt = Receive(options(false, nullptr));
  ASSERT_EQ(static_cast<int>(receipt.outcome), static_cast<int>(Receipt::Outcome::read)) << receipt.error;
  ASSERT_EQ(receipt.kind, Receipt::Kind::media);
  ASSERT_EQ(receipt.media.size(), 3u);
  EXPECT_FALSE(receipt.media[0].missing());
  EXPECT_TRUE(receipt.media[1].missing());
  EXPECT_TRUE(receipt.media[2].missing());
  EXPECT_EQ(receipt.media[2].record.type, SharedMediaType::file);
}

}  // namespace
}  // namespace halvernsignet_receive
