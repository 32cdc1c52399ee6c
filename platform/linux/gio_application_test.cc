#include "platform/linux/gio_application.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "tests/support/temp_dir.h"
#include "tests/support/test_files.h"

namespace platform::linux_platform {
namespace {

namespace fs = std::filesystem;
using testsupport::ReadFile;

// A desktop of its own below `root`, with a handler for the halvernsignet
// scheme when `handlerOutput` is given. GIO reads these variables once per
// process, so every scenario runs in a fresh child process.
void IsolateDesktop(const fs::path& root, const fs::path* handlerOutput) {
  fs::create_directories(root / "data" / "applications");
  fs::create_directories(root / "config");
  fs::create_directories(root / "empty");
  if (handlerOutput) {
    // The shell belongs to the handler, started by GIO from its argv.
    std::ofstream(root / "data" / "applications" / "halvernsignet-test.desktop")
        << "[Desktop Entry]\nType=Application\nName=Test handler\n"
        << "Exec=/bin/sh -c 'printf \"%%s\\\\n\" \"$1\" >> " << handlerOutput->string() << "' sh %u\n"
        << "MimeType=x-scheme-handler/halvernsignet;\nNoDisplay=true\n";
    std::ofstream(root / "config" / "mimeapps.list")
        << "[Default Applications]\nx-scheme-handler/halvernsignet=halvernsignet-test.desktop\n";
  }
  setenv("HOME", root.c_str(), 1);
  setenv("XDG_DATA_HOME", (root / "data").c_str(), 1);
  setenv("XDG_CONFIG_HOME", (root / "config").c_str(), 1);
  setenv("XDG_DATA_DIRS", (root / "empty").c_str(), 1);
  setenv("XDG_CONFIG_DIRS", (root / "empty").c_str(), 1);
  unsetenv("XDG_CURRENT_DESKTOP");
}

// Standard output goes to a file the scenario can inspect afterwards.
void CaptureStandardOutput(const fs::path& file) {
  std::fflush(stdout);
  const int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  dup2(fd, STDOUT_FILENO);
  close(fd);
}

int Fail(const std::string& why) {
  std::fprintf(stderr, "%s\n", why.c_str());
  std::fflush(stderr);
  return 1;
}

int LaunchesTheRegisteredHandler() {
  testsupport::TempDir temp;
  const fs::path received = temp.path() / "received";
  IsolateDesktop(temp.path(), &received);
  CaptureStandardOutput(temp.path() / "stdout");

  std::vector<OpenURLOutcome> reported;
  GioApplication app([&](const OpenURLOutcome& outcome) { reported.push_back(outcome); });
  app.performSelector("openURL:", URL::URLWithString("halvernsignet://dataUrl=ShareKey#media"));

  const auto outcome = app.lastOutcome();
  if (!outcome || outcome->status != OpenURLOutcome::Status::launched)
    return Fail("not launched: " + (outcome ? outcome->description() : "no outcome"));
  if (outcome->handlerId != "halvernsignet-test.desktop") return Fail("handler " + outcome->handlerId);
  if (reported.size() != 1 || reported[0].description() != outcome->description()) return Fail("not reported once");

  // The handler runs on its own; give it time to write.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  std::string text;
  while ((text = ReadFile(received)).empty() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (text != "halvernsignet://dataUrl=ShareKey#media\n") return Fail("handler received '" + text + "'");
  std::fflush(stdout);
  if (!ReadFile(temp.path() / "stdout").empty()) return Fail("wrote on standard output");
  return 0;
}

int WithoutHandlerNothingHappens() {
  testsupport::TempDir temp;
  IsolateDesktop(temp.path(), nullptr);
  CaptureStandardOutput(temp.path() / "stdout");

  GioApplication app;
  if (!app.respondsToSelector("openURL:") || app.respondsToSelector("close:") || app.nextResponder())
    return Fail("wrong responder");
  app.performSelector("openURL:", URL::URLWithString("halvernsignet://dataUrl=ShareKey#text"));
  auto outcome = app.lastOutcome();
  if (!outcome || outcome->status != OpenURLOutcome::Status::noHandler)
    return Fail("expected no handler: " + (outcome ? outcome->description() : "no outcome"));

  app.performSelector("openURL:", std::nullopt);
  outcome = app.lastOutcome();
  if (!outcome || outcome->status != OpenURLOutcome::Status::noURL) return Fail("expected no URL");

  std::fflush(stdout);
  if (!ReadFile(temp.path() / "stdout").empty()) return Fail("wrote on standard output");
  // Nothing else appeared in the desktop's directories either.
  for (const auto& entry : fs::recursive_directory_iterator(temp.path())) {
    if (entry.is_regular_file() && entry.path().filename() != "stdout") return Fail("found " + entry.path().string());
  }
  return 0;
}

class GioApplicationTest : public ::testing::Test {
 protected:
  void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

TEST_F(GioApplicationTest, OpenURLStartsTheSchemeHandlerWithTheURL) {
  EXPECT_EXIT(std::exit(LaunchesTheRegisteredHandler()), ::testing::ExitedWithCode(0), "");
}

TEST_F(GioApplicationTest, WithoutHandlerOrURLNothingIsOpenedOrPrinted) {
  EXPECT_EXIT(std::exit(WithoutHandlerNothingHappens()), ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace platform::linux_platform
