// halvernsignet-share: shares texts, links, photos, movies and files with the
// halvernsignet application on this desktop.
#include <chrono>
#include <cstdlib>

#include "app/command_line.h"
#include "app/extension_host.h"
#include "halvernsignet_build_config.h"
#include "share/app_group.h"

int main(int argc, char** argv) {
  app::CommandLineContext context;
  context.appGroupIdentifier = halvernsignet_mobile_Share::AppGroupIdentifierFor(build_config::kHostAppBundleIdentifier);
  context.version = build_config::kVersion;
  const app::ParseResult parsed = app::ParseCommandLine(argc, argv, context);
  if (parsed.action != app::ParseResult::Action::run) return parsed.exitStatus;
#ifdef HALVERNSIGNET_SHARE_TEST_BUILD
  // The test build only: each file copied takes this much longer, so that a
  // share of small files runs long enough to be watched or stopped.
  const char* delay = std::getenv("HALVERNSIGNET_SHARE_TEST_COPY_DELAY_MS");
  return app::RunShare(parsed.request, std::chrono::milliseconds(delay ? std::strtol(delay, nullptr, 10) : 0));
#else
  return app::RunShare(parsed.request);
#endif
}
