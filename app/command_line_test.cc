#include "app/command_line.h"

#include <filesystem>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "platform/url.h"
#include "tests/support/temp_dir.h"

namespace app {
namespace {

namespace fs = std::filesystem;
using Action = ParseResult::Action;
using Payload = AttachmentSpec::Payload;

struct Parsed {
  ParseResult result;
  std::string out;
  std::string err;

  const std::vector<AttachmentSpec>& attachments() const {
    static const std::vector<AttachmentSpec> none;
    if (result.request.inputItems.size() != 1 || !result.request.inputItems[0].attachments) return none;
    return *result.request.inputItems[0].attachments;
  }
};

Parsed Parse(std::vector<std::string> args, const std::string& standardInput = "") {
  args.insert(args.begin(), "halvernsignet-share");
  std::vector<char*> argv;
  for (auto& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  std::istringstream in(standardInput);
  std::ostringstream out, err;
  CommandLineContext context{&in, &out, &err, "group.com.example", "9.8.7"};
  Parsed parsed;
  parsed.result = ParseCommandLine(static_cast<int>(args.size()), argv.data(), context);
  parsed.out = out.str();
  parsed.err = err.str();
  return parsed;
}

std::string FileURL(const fs::path& path, bool isDirectory = false) {
  return platform::URL::fileURLWithPath(path.string(), isDirectory).absoluteString();
}

void ExpectAttachment(const AttachmentSpec& a, std::vector<std::string> types, Payload payload, const std::string& value) {
  EXPECT_EQ(a.types, types);
  EXPECT_EQ(a.payload, payload);
  EXPECT_EQ(a.value, value);
  EXPECT_EQ(a.delayMs, 0);
}

TEST(ParseCommandLine, AttachmentsFollowTheTypedOrderAcrossKinds) {
  const Parsed run = Parse({"--text", "first", "--url", "https://example.com/x?y=1", "--image", "/photos/a b.jpg",
                         "mailto:someone@example.com", "--text", "-starts-with-dash", "--file", "/docs/report.pdf",
                         "--movie", "/clips/m.mov", "--text=last"});
  ASSERT_EQ(run.result.action, Action::run) << run.err;
  EXPECT_TRUE(run.out.empty());
  EXPECT_TRUE(run.err.empty());
  EXPECT_FALSE(run.result.request.verbose);
  ASSERT_EQ(run.result.request.inputItems.size(), 1u);
  EXPECT_TRUE(run.result.request.inputItems[0].isExtensionItem);
  const auto& a = run.attachments();
  ASSERT_EQ(a.size(), 8u);
  ExpectAttachment(a[0], {"public.plain-text"}, Payload::string, "first");
  ExpectAttachment(a[1], {"public.url"}, Payload::url, "https://example.com/x?y=1");
  ExpectAttachment(a[2], {"public.image"}, Payload::url, "file:///photos/a%20b.jpg");
  ExpectAttachment(a[3], {"public.url"}, Payload::url, "mailto:someone@example.com");
  ExpectAttachment(a[4], {"public.plain-text"}, Payload::string, "-starts-with-dash");
  ExpectAttachment(a[5], {"public.file-url"}, Payload::url, "file:///docs/report.pdf");
  ExpectAttachment(a[6], {"public.movie"}, Payload::url, "file:///clips/m.mov");
  ExpectAttachment(a[7], {"public.plain-text"}, Payload::string, "last");
}

TEST(ParseCommandLine, AnOptionTakesOneValueAndTheRestAreBareArguments) {
  const Parsed run = Parse({"--text", "a", "https://example.com/", "-v"});
  ASSERT_EQ(run.result.action, Action::run) << run.err;
  EXPECT_TRUE(run.result.request.verbose);
  ASSERT_EQ(run.attachments().size(), 2u);
  ExpectAttachment(run.attachments()[1], {"public.url"}, Payload::url, "https://example.com/");
}

TEST(ParseCommandLine, PathsBecomeAbsoluteFileURLsWithoutExistenceCheck) {
  testsupport::TempDir temp;
  fs::create_directory(temp.path() / "folder");
  const fs::path saved = fs::current_path();
  fs::current_path(temp.path());
  const Parsed run = Parse({"--file", "folder", "--image", "not/there.png", "--movie", "folder/"});
  fs::current_path(saved);
  ASSERT_EQ(run.result.action, Action::run) << run.err;
  const auto& a = run.attachments();
  ASSERT_EQ(a.size(), 3u);
  EXPECT_EQ(a[0].value, FileURL(temp.path() / "folder", true));
  EXPECT_EQ(a[0].value.back(), '/');
  EXPECT_EQ(a[1].value, FileURL(temp.path() / "not" / "there.png"));
  EXPECT_EQ(a[2].value, FileURL(temp.path() / "folder/", true));
}

TEST(ParseCommandLine, BareArgumentsAreSniffed) {
  testsupport::TempDir temp;
  const fs::path png = temp.path() / "photo.png";
  std::ofstream(png, std::ios::binary) << std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16);
  const fs::path mp4 = temp.path() / "clip.mp4";
  std::ofstream(mp4, std::ios::binary) << std::string("\0\0\0\x18" "ftypisom\0\0\x02\0isomiso2", 24);
  const fs::path note = temp.path() / "note.txt";
  std::ofstream(note) << "hello\n";
  fs::create_directory(temp.path() / "folder");

  const Parsed run = Parse({png.string(), mp4.string(), note.string(), (temp.path() / "folder").string(),
                         FileURL(png), "https://example.com/page"});
  ASSERT_EQ(run.result.action, Action::run) << run.err;
  const auto& a = run.attachments();
  ASSERT_EQ(a.size(), 6u);
  ExpectAttachment(a[0], {"public.png"}, Payload::url, FileURL(png));
  ExpectAttachment(a[1], {"public.mpeg-4"}, Payload::url, FileURL(mp4));
  ExpectAttachment(a[2], {"public.file-url"}, Payload::url, FileURL(note));
  ExpectAttachment(a[3], {"public.file-url"}, Payload::url, FileURL(temp.path() / "folder", true));
  ExpectAttachment(a[4], {"public.png"}, Payload::url, FileURL(png));
  ExpectAttachment(a[5], {"public.url"}, Payload::url, "https://example.com/page");
}

TEST(ParseCommandLine, ManifestGivesTheWholeRequest) {
  const Parsed run = Parse({"-v", "--manifest", "-"},
                        R"({"inputItems": ["other", {"attachments": [{"types": ["public.image"], "error": "gone"}]}]})");
  ASSERT_EQ(run.result.action, Action::run) << run.err;
  EXPECT_TRUE(run.result.request.verbose);
  ASSERT_EQ(run.result.request.inputItems.size(), 2u);
  EXPECT_FALSE(run.result.request.inputItems[0].isExtensionItem);
  EXPECT_EQ(run.result.request.inputItems[1].attachments->at(0).payload, Payload::error);
}

TEST(ParseCommandLine, UsageErrorsShareNothingAndExitTwo) {
  const std::pair<std::vector<std::string>, const char*> cases[] = {
      {{}, "nothing to share"},
      {{"-v"}, "nothing to share"},
      {{"--url", "not a url"}, "--url: \"not a url\" is not a valid URL"},
      {{"--text"}, "--text"},
      {{"--image", ""}, "--image: the path is empty"},
      {{"--bogus", "x"}, "--bogus"},
      {{"/no/such/file.jpg"}, "/no/such/file.jpg: neither an existing file nor a URL"},
      {{"--text", "a", "relative-missing.txt"}, "relative-missing.txt: neither an existing file nor a URL"},
      {{"--manifest", "-", "--text", "a"}, "--manifest cannot be combined"},
      {{"--manifest", "-", "https://example.com/"}, "--manifest cannot be combined"},
      {{"--manifest", "a.json", "--manifest", "b.json"}, "--manifest"},
      {{"--manifest", "/no/such/manifest.json"}, "cannot open /no/such/manifest.json"},
      {{"--manifest", "-"}, "not valid JSON"},
      {{"--text", "caf\xE9"}, "--text: the text is not valid UTF-8"},
      {{"file://otherhost/etc/hostname"}, "a file on another machine; only local files can be shared"},
  };
  for (const auto& [args, expected] : cases) {
    const Parsed run = Parse(args);
    SCOPED_TRACE(::testing::PrintToString(args));
    EXPECT_EQ(run.result.action, Action::usageError);
    EXPECT_EQ(run.result.exitStatus, 2);
    EXPECT_TRUE(run.result.request.inputItems.empty());
    EXPECT_TRUE(run.out.empty()) << run.out;
    EXPECT_NE(run.err.find(expected), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("--help"), std::string::npos);
  }
}

TEST(ParseCommandLine, ThousandsOfValuesKeepTheirOrderAndTheFirstFailureIsReported) {
  const auto files = [](std::size_t count) {
    std::vector<std::string> args;
    for (std::size_t i = 0; i < count; ++i) {
      args.push_back("--file");
      args.push_back("/f/" + std::to_string(i));
    }
    return args;
  };
  const Parsed run = Parse(files(1000));
  ASSERT_EQ(run.result.action, Action::run) << run.err;
  ASSERT_EQ(run.attachments().size(), 1000u);
  for (std::size_t i : {0u, 499u, 500u, 999u}) EXPECT_EQ(run.attachments()[i].value, "file:///f/" + std::to_string(i));

  // Bad links placed among 1,000 files at the given value positions.
  const std::pair<std::vector<std::size_t>, const char*> cases[] = {
      {{100, 900}, "\"bad 100\""},
      {{900}, "\"bad 900\""},
      {{499, 500}, "\"bad 499\""},
  };
  for (const auto& [positions, expected] : cases) {
    std::vector<std::string> args = files(1000);
    for (std::size_t position : positions) {
      args[2 * position] = "--url";
      args[2 * position + 1] = "bad " + std::to_string(position);
    }
    const Parsed failed = Parse(args);
    EXPECT_EQ(failed.result.action, Action::usageError);
    EXPECT_NE(failed.err.find(expected), std::string::npos) << failed.err;
  }
}

TEST(ParseCommandLine, HelpGoesToStandardOutputAndSharesNothing) {
  for (const char* flag : {"--help", "-h"}) {
    const Parsed run = Parse({"--text", "ignored", flag});
    EXPECT_EQ(run.result.action, Action::helpShown);
    EXPECT_EQ(run.result.exitStatus, 0);
    EXPECT_TRUE(run.err.empty()) << run.err;
    EXPECT_EQ(run.out, run.result.message);
    for (const char* expected : {"--text", "--url", "--image", "--file", "--movie", "--manifest", "--verbose",
                                 "inputItems", "delayMs", "0  handed to the host application",
                                 "1  an error alert", "2  usage or manifest error", "3  the request was never",
                                 "4  handed over, but some items were left out", "--version",
                                 "group-containers/group.com.example/", "group.com.example.plist", "ShareKey"}) {
      EXPECT_NE(run.out.find(expected), std::string::npos) << expected;
    }
  }
}

TEST(ParseCommandLine, VersionIsOneLineOnStandardOutputAndSharesNothing) {
  for (const std::vector<std::string>& args : {std::vector<std::string>{"--version"}, {"--text", "ignored", "--version"}}) {
    const Parsed run = Parse(args);
    SCOPED_TRACE(::testing::PrintToString(args));
    EXPECT_EQ(run.result.action, Action::versionShown);
    EXPECT_EQ(run.result.exitStatus, 0);
    EXPECT_EQ(run.out, "halvernsignet-share 9.8.7\n");
    EXPECT_TRUE(run.err.empty()) << run.err;
    EXPECT_TRUE(run.result.request.inputItems.empty());
  }
}

}  // namespace
}  // namespace app
