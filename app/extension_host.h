#pragma once

#include "app/share_request.h"

namespace app {

// How a share ended, as the process's exit status.
enum ExitStatus : int {
  kHandedOver = 0,       // the handoff completed the request and no error alert was shown
  kErrorAlertShown = 1,  // a load failed: the error alert was shown
  kUsageError = 2,       // bad command line or manifest: nothing was shared
  kNeverCompleted = 3,   // nothing completed the request
};

// Runs one share on the Linux platform: builds the request, shows the
// controller, waits until every started load has delivered.
int RunShare(const ShareRequest& request);

}  // namespace app
