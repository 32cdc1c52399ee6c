#include "platform/linux/desktop/gio_application.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <gio/gio.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "tests/support/fake_desktop_portal.h"
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

// One openURL: with a private session bus (GTestDBus) on which a fake desktop
// portal answers `response`, or none serves when `response` is negative. A
// handler is registered, so a direct launch would find one.
struct PortalScenario {
  bool inSandbox;
  int response;
  OpenURLOutcome::Status expected;
  std::size_t portalCalls;
};

int OpensThroughThePortalOnlyInASandbox(const PortalScenario& scenario) {
  testsupport::TempDir temp;
  const fs::path received = temp.path() / "received";
  IsolateDesktop(temp.path(), &received);
  GTestDBus* bus = g_test_dbus_new(G_TEST_DBUS_NONE);
  g_test_dbus_up(bus);
  const int result = [&] {
    std::unique_ptr<testsupport::FakeDesktopPortal> portal;
    if (scenario.response >= 0) {
      portal = std::make_unique<testsupport::FakeDesktopPortal>(g_test_dbus_get_bus_address(bus),
                                                                static_cast<std::uint32_t>(scenario.response));
      if (!portal->serving()) return Fail("the fake portal could not take its name");
    }
    GioApplication app(nullptr, [&] { return scenario.inSandbox; });
    app.performSelector("openURL:", URL::URLWithString("halvernsignet://dataUrl=ShareKey#media"));
    const auto outcome = app.lastOutcome();
    if (!outcome || outcome->status != scenario.expected)
      return Fail("outcome: " + (outcome ? outcome->description() : "none"));
    if (scenario.inSandbox && outcome->handlerId != GioApplication::kPortalHandlerId)
      return Fail("not through the portal: " + outcome->description());
    if (!scenario.inSandbox && outcome->handlerId != "halvernsignet-test.desktop")
      return Fail("not the registered handler: " + outcome->description());
    const auto calls = portal ? portal->calls() : std::vector<testsupport::FakeDesktopPortal::Call>{};
    if (calls.size() != scenario.portalCalls) return Fail("portal calls: " + std::to_string(calls.size()));
    for (const auto& call : calls) {
      if (call.uri != "halvernsignet://dataUrl=ShareKey#media" || !call.parentWindow.empty() ||
          call.handleToken.empty())
        return Fail("portal asked with '" + call.uri + "', '" + call.parentWindow + "', '" + call.handleToken + "'");
    }
    return 0;
  }();
  g_test_dbus_down(bus);
  g_object_unref(bus);
  return result;
}

class GioApplicationTest : public ::testing::Test {
 protected:
  void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

TEST_F(GioApplicationTest, OpenURLStartsTheSchemeHandlerWithTheURL) {
  EXPECT_EXIT(std::exit(LaunchesTheRegisteredHandler()), ::testing::ExitedWithCode(0), "");
}

// In a sandbox the desktop's handlers cannot be looked up; only the portal
// can open the URL. Outside one, the portal is never asked.
TEST_F(GioApplicationTest, InASandboxTheDesktopPortalOpensTheURL) {
  using Status = OpenURLOutcome::Status;
  const PortalScenario scenarios[] = {
      {true, 0, Status::launched, 1},       // the portal opened it
      {true, 1, Status::launchFailed, 1},   // the person cancelled the portal's choice
      {true, 2, Status::launchFailed, 1},   // the portal failed
      {true, -1, Status::launchFailed, 0},  // no portal on the bus
      {false, 0, Status::launched, 0},      // no sandbox: the registered handler, directly
  };
  for (const PortalScenario& scenario : scenarios) {
    SCOPED_TRACE(::testing::Message() << "sandbox " << scenario.inSandbox << ", response " << scenario.response);
    EXPECT_EXIT(std::exit(OpensThroughThePortalOnlyInASandbox(scenario)), ::testing::ExitedWithCode(0), "");
  }
}

TEST_F(GioApplicationTest, WithoutHandlerOrURLNothingIsOpenedOrPrinted) {
  EXPECT_EXIT(std::exit(WithoutHandlerNothingHappens()), ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace platform::linux_platform
