#pragma once

namespace app {

// How a run of halvernsignet-share ended, as the process's exit status. The
// help text and the README list the same values.
enum ExitStatus : int {
  kHandedOver = 0,       // the handoff completed the request and no error alert was shown (also: --help)
  kErrorAlertShown = 1,  // the error alert was shown: a load failed, or the suite could not take the payload
  kUsageError = 2,       // bad command line or manifest: nothing was shared
  kNeverCompleted = 3,   // nothing completed the request
  kItemsLeftOut = 4,     // handed over, but some attachments were left out (each named on standard error)
};

}  // namespace app
