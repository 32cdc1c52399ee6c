#pragma once

#include <string>

#include "platform/linux/files/sweep_report.h"

namespace platform::linux_platform {

// The only places a sweep may touch: what a share of this user can have made
// lies directly in its container, or beside its suite.
struct SweepScope {
  std::string container;    // the app-group container's path
  std::string suiteFolder;  // the folder holding the suite
  std::string suiteFile;    // the suite's file name in it ("<group>.plist")
};

// Removes what runs that are over left behind, as their records name it, and
// then the records. Takes time in proportion to the records and the items
// they name, never to the size of the container. Runs that are still going
// (their record locked) are left alone, and so is any record another sweep
// is clearing at the same moment.
// Trusts no record blindly: it acts only when the runs folder is owned by
// this user and closed to group and others, only on records this user owns,
// and only on lines that name, once ".." and links are resolved, an item
// directly in `scope`'s container (a temporary or an item moved aside by
// their hidden names) or the suite's temporary beside it. Other lines are
// skipped and counted.
SweepReport SweepDeadRuns(const std::string& stateDir, const SweepScope& scope);

}  // namespace platform::linux_platform
