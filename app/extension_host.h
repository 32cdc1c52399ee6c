#pragma once

#include "app/exit_status.h"
#include "app/share_request.h"

namespace app {

// Runs one share on the Linux platform: builds the request, shows the
// controller, waits until every started load has delivered. Returns how the
// share ended (kHandedOver, kErrorAlertShown or kNeverCompleted).
int RunShare(const ShareRequest& request);

}  // namespace app
