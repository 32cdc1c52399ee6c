#include "platform/url.h"

#include <gtest/gtest.h>

namespace platform {
namespace {

TEST(URLTest, FileURLEscapesWhatAPathMayNotHold) {
  const URL url = URL::fileURLWithPath("/c/Travel notes #1 100%.pdf");
  EXPECT_EQ(url.absoluteString(), "file:///c/Travel%20notes%20%231%20100%25.pdf");
  EXPECT_EQ(url.path(), "/c/Travel notes #1 100%.pdf");
  EXPECT_EQ(url.lastPathComponent(), "Travel notes #1 100%.pdf");
  EXPECT_EQ(URL::fileURLWithPath("/a/-._~!$&'()*+,;=:@").absoluteString(), "file:///a/-._~!$&'()*+,;=:@");
  EXPECT_EQ(URL::fileURLWithPath("/\xC3\xA9t\xC3\xA9").absoluteString(), "file:///%C3%A9t%C3%A9");
  EXPECT_EQ(URL::fileURLWithPath("/\xC3\xA9t\xC3\xA9").lastPathComponent(), "\xC3\xA9t\xC3\xA9");
}

TEST(URLTest, DirectoriesAndAppendingComponents) {
  const URL dir = URL::fileURLWithPath("/data/group.x", /*isDirectory=*/true);
  EXPECT_EQ(dir.absoluteString(), "file:///data/group.x/");
  EXPECT_EQ(dir.path(), "/data/group.x");
  EXPECT_EQ(dir.lastPathComponent(), "group.x");
  EXPECT_EQ(dir.appendingPathComponent("a b.txt").absoluteString(), "file:///data/group.x/a%20b.txt");
  EXPECT_EQ(URL::fileURLWithPath("/data").appendingPathComponent("x").path(), "/data/x");
  EXPECT_EQ(URL::fileURLWithPath("/").lastPathComponent(), "/");
  EXPECT_EQ(dir.appendingPathComponent("a b.txt").deletingLastPathComponent().absoluteString(),
            "file:///data/group.x/");
  EXPECT_EQ(dir.deletingLastPathComponent().absoluteString(), "file:///data/");
  EXPECT_EQ(URL::fileURLWithPath("/").deletingLastPathComponent().absoluteString(), "file:///");
}

TEST(URLTest, KeepsDotSegmentsAndDecodesOnlyForNames) {
  const auto url = URL::URLWithString("file:///c/%2E%2E");
  ASSERT_TRUE(url);
  EXPECT_EQ(url->absoluteString(), "file:///c/%2E%2E");
  EXPECT_EQ(url->lastPathComponent(), "..");
  EXPECT_EQ(URL::URLWithString("file:///c/./x/..")->absoluteString(), "file:///c/./x/..");
  EXPECT_EQ(URL::URLWithString("file:///c/a%2Fb")->lastPathComponent(), "a/b");
}

TEST(URLTest, URLWithStringRejectsWhatIsNoURL) {
  for (const char* bad : {"", "hello world", "http://a b", "http://[::1", "a\"b", "x%zz", "x%2", "a#b#c",
                          "http://host:port/", "\xC3\xA9"}) {
    EXPECT_FALSE(URL::URLWithString(bad)) << bad;
  }
  const auto link = URL::URLWithString("https://example.com/a?q=1#f");
  ASSERT_TRUE(link);
  EXPECT_EQ(link->absoluteString(), "https://example.com/a?q=1#f");
  EXPECT_EQ(link->scheme(), "https");
  EXPECT_FALSE(link->isFileURL());
  EXPECT_EQ(URL::URLWithString("halvernsignet://dataUrl=ShareKey#text")->absoluteString(),
            "halvernsignet://dataUrl=ShareKey#text");
}

TEST(URLTest, OnlyFileURLsWithoutAnotherHostAreLocal) {
  const std::pair<const char*, bool> cases[] = {
      {"file:///etc/hostname", true},          {"file://localhost/etc/hostname", true},
      {"FILE://LocalHost/etc/hostname", true}, {"file:/etc/hostname", true},
      {"file://otherhost/etc/hostname", false}, {"file://127.0.0.1/etc/hostname", false},
      {"https://evil.example/etc/hostname", false}, {"/etc/hostname", false},
  };
  for (const auto& [text, local] : cases) EXPECT_EQ(URL::URLWithString(text)->isLocalFileURL(), local) << text;
}

}  // namespace
}  // namespace platform
