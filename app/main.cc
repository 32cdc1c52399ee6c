// halvernsignet-share: shares texts, links, photos, movies and files with the
// halvernsignet application on this desktop.
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
  return app::RunShare(parsed.request);
}
