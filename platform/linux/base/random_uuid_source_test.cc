#include "platform/linux/base/random_uuid_source.h"

#include <regex>
#include <set>

#include <gtest/gtest.h>

namespace platform::linux_platform {
namespace {

TEST(RandomUUIDSource, UpperCaseVersion4AndFresh) {
  RandomUUIDSource source;
  const std::regex form("^[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}$");
  std::set<std::string> seen;
  for (int i = 0; i < 1000; ++i) {
    const std::string uuid = source.uuidString();
    EXPECT_TRUE(std::regex_match(uuid, form)) << uuid;
    seen.insert(uuid);
  }
  EXPECT_EQ(seen.size(), 1000u);
}

}  // namespace
}  // namespace platform::linux_platform
