// How long the sweep of a dead run's leftovers takes at the start of a share,
// in a container that already holds many files:
//   sweep_bench [FILES] [ROUNDS]     (default 100000 files, 15 rounds)
// Each round a child process starts a share run's record, leaves a copy
// temporary, a thumbnail temporary and a new copy behind, and is killed; the
// sweep that follows is timed. Beside it, in the same rounds: the sweep when
// no run died (every share pays this), and what a sweep by name patterns
// would cost instead, a listing of the whole container (readdir, as `find
// DIR -maxdepth 1 -name '.incoming-*'` does).
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/linux/files/run_journal.h"
#include "platform/linux/files/run_sweep.h"

namespace fs = std::filesystem;
using platform::linux_platform::IdentityAt;
using platform::linux_platform::ItemIdentity;
using platform::linux_platform::RunJournal;
using platform::linux_platform::SweepDeadRuns;
using Clock = std::chrono::steady_clock;

namespace {

double Milliseconds(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

void DieLeavingLeftovers(const fs::path& state, const fs::path& container, int round) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    auto journal = RunJournal::Start(state);
    if (!journal) ::_exit(3);
    const fs::path copying = container / (".incoming-" + std::to_string(round));
    journal->willCreateTemporary(copying);
    std::ofstream(copying) << std::string(1 << 20, 'x');
    const fs::path thumbnail = container / (".TjA.jpg." + std::to_string(round));
    journal->willCreateTemporary(thumbnail);
    std::ofstream(thumbnail) << "png";
    const fs::path made = container / ("new-" + std::to_string(round) + ".HEIC");
    const fs::path staged = container / (".incoming-new-" + std::to_string(round));
    journal->willCreateTemporary(staged);
    std::ofstream(staged) << "photo";
    const int dir = ::open(container.c_str(), O_RDONLY | O_DIRECTORY);
    ItemIdentity identity;
    IdentityAt(dir, staged.filename(), identity);
    journal->willPlaceNewItem(made, identity);
    fs::rename(staged, made);
    ::raise(SIGKILL);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
}

std::size_t ListHiddenNames(const fs::path& container) {
  DIR* dir = ::opendir(container.c_str());
  std::size_t hidden = 0;
  while (const dirent* entry = ::readdir(dir)) hidden += entry->d_name[0] == '.';
  ::closedir(dir);
  return hidden;
}

}  // namespace

int main(int argc, char** argv) {
  const int files = argc > 1 ? std::atoi(argv[1]) : 100000;
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 15;
  const char* tmp = std::getenv("TMPDIR");
  const fs::path root = fs::path(tmp ? tmp : "/tmp") / ("sweep-bench-" + std::to_string(::getpid()));
  const fs::path container = root / "container";
  const fs::path state = root / "state" / "halvernsignet-share";
  fs::create_directories(container);
  for (int i = 0; i < files; ++i) {
    std::ofstream(container / ("C" + std::to_string(i) + "-0000-4000-8000-000000000000.HEIC"));
  }

  std::vector<double> deadRun, noDeadRun, listing;
  for (int round = 0; round < rounds; ++round) {
    DieLeavingLeftovers(state, container, round);
    auto start = Clock::now();
    const auto report = SweepDeadRuns(state, {container, root / "config", "suite.plist"});
    deadRun.push_back(Milliseconds(Clock::now() - start));
    if (report.deadRuns != 1 || report.itemsRemoved != 3 || report.failures != 0) {
      std::fprintf(stderr, "sweep_bench: the sweep missed leftovers (runs %d, removed %d, failures %d)\n",
                   report.deadRuns, report.itemsRemoved, report.failures);
      return 1;
    }
    start = Clock::now();
    (void)SweepDeadRuns(state, {container, root / "config", "suite.plist"});
    noDeadRun.push_back(Milliseconds(Clock::now() - start));
    start = Clock::now();
    const std::size_t hidden = ListHiddenNames(container);
    listing.push_back(Milliseconds(Clock::now() - start));
    if (hidden != 2) {  // "." and ".."
      std::fprintf(stderr, "sweep_bench: %zu hidden names left in the container\n", hidden - 2);
      return 1;
    }
  }
  std::printf("container of %d files, medians of %d rounds\n", files, rounds);
  std::printf("  sweep after a dead run (3 leftovers, one a 1 MiB temporary): %8.3f ms\n", Median(deadRun));
  std::printf("  sweep when no run died:                                     %8.3f ms\n", Median(noDeadRun));
  std::printf("  listing the container once (a sweep by name patterns):      %8.3f ms\n", Median(listing));
  fs::remove_all(root);
  return 0;
}
