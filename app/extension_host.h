#pragma once

#include <chrono>

#include "app/exit_status.h"
#include "app/share_request.h"

namespace app {

// Runs one share on the Linux platform: builds the request, shows the
// controller, waits until every started load has delivered. Returns how the
// share ended (kHandedOver, kErrorAlertShown or kNeverCompleted).
// A stop (signal or Cancel) ends the process from within; see share_stop.h.
// `testCopyDelay`: each file copied takes that much longer; only the test
// build of the program (halvernsignet-share-testing) ever sets it.
int RunShare(const ShareRequest& request, std::chrono::milliseconds testCopyDelay = std::chrono::milliseconds(0));

}  // namespace app
