#pragma once

#include <string>

namespace platform::linux_platform {

// What one sweep did.
struct SweepReport {
  int deadRuns = 0;          // records of finished runs cleared
  int liveRuns = 0;          // records left alone: their run is still going
  int itemsRemoved = 0;      // temporaries and unnamed new items removed
  int itemsRestored = 0;     // items moved aside put back under their name
  int failures = 0;          // items that could not be removed or restored
  // Why no record was acted on at all (the runs folder is not this user's
  // private folder); empty when the sweep looked at the records.
  std::string refused;
  int recordsRefused = 0;    // records not owned by this user, left alone
  int linesSkipped = 0;      // lines naming something a share cannot have made
  std::string firstSkipped;  // the first of them, as written in its record
};

}  // namespace platform::linux_platform
