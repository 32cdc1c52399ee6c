#pragma once

#include <iostream>
#include <string>

#include "app/exit_status.h"
#include "app/share_request.h"

namespace app {

struct ParseResult {
  enum class Action {
    run,         // share `request`
    helpShown,   // --help: the help text went to standard output; exit 0
    versionShown,  // --version: one line with the version went to standard output; exit 0
    usageError,  // the message went to standard error; exit 2, nothing shared
  };
  Action action = Action::usageError;
  ShareRequest request;
  std::string message;  // the help text, the version line or the error, as printed
  int exitStatus = kUsageError;  // for helpShown, versionShown and usageError
};

// Where parsing reads a manifest given as "-" and writes help and errors.
struct CommandLineContext {
  std::istream* standardInput = &std::cin;
  std::ostream* standardOutput = &std::cout;
  std::ostream* standardError = &std::cerr;
  // Named in the help where the container and the suite live.
  std::string appGroupIdentifier = "group.<host application bundle identifier>";
  // Printed by --version.
  std::string version = "unknown";
};

// Turns the command line into the extension request: every item option and
// bare argument becomes one attachment of the first input item, in the order
// typed; or the request comes whole from --manifest.
ParseResult ParseCommandLine(int argc, char** argv, const CommandLineContext& context);
ParseResult ParseCommandLine(int argc, char** argv);

}  // namespace app
