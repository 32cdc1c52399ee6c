#pragma once

namespace app {

// How a run of halvernsignet-share ended, as the process's exit status. The
// help text and the README list the same values.
enum ExitStatus : int {
  kHandedOver = 0,       // the handoff completed the request and no error alert was shown (also: --help)
  kErrorAlertShown = 1,  // a load failed: the error alert was shown
  kUsageError = 2,       // bad command line or manifest: nothing was shared
  kNeverCompleted = 3,   // nothing completed the request
};

}  // namespace app
