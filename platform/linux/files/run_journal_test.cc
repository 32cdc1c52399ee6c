#include "platform/linux/files/run_journal.h"
#include "platform/linux/files/run_sweep.h"

#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include <fcntl.h>
#include <stdio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "tests/support/temp_dir.h"

namespace platform::linux_platform {
namespace {

namespace fs = std::filesystem;

void WriteFile(const fs::path& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

ItemIdentity IdentityOf(const fs::path& path) {
  UniqueFd dir(::open(path.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  ItemIdentity identity;
  IdentityAt(dir.get(), path.filename(), identity);
  return identity;
}

// A share run's steps, as the file manager and the suite take them.
struct ShareRun {
  RunJournal& journal;
  fs::path container;
  fs::path config;

  // A copy made under a temporary name and moved to `name`, replacing
  // whatever is there.
  void place(const std::string& name, const std::string& contents) {
    const fs::path temporary = container / (".incoming-" + name);
    journal.willCreateTemporary(temporary);
    WriteFile(temporary, contents);
    const ItemIdentity identity = IdentityOf(temporary);
    journal.willPlaceNewItem(container / name, identity);
    if (::renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, (container / name).c_str(), RENAME_NOREPLACE) != 0) {
      journal.willReplaceItem(container / name, identity);
      fs::rename(temporary, container / name);
    }
  }
  fs::path suiteTemporary() { return config / ".suite.plist.Ab12Cd"; }
  void beginSuite() {
    journal.willWriteSuite(suiteTemporary());
    WriteFile(suiteTemporary(), "new suite");
  }
  void renameSuite() {
    journal.willRenameSuite();
    fs::rename(suiteTemporary(), config / "suite.plist");
    journal.suiteRenamed();
  }
};

struct Sandbox {
  testsupport::TempDir temp;
  fs::path container = temp.path() / "container";
  fs::path config = temp.path() / "config";
  fs::path state = temp.path() / "state" / "halvernsignet-share";
  Sandbox() {
    fs::create_directories(container);
    fs::create_directories(config);
    WriteFile(container / "earlier.jpg", "named by an earlier share");
    WriteFile(config / "suite.plist", "old suite");
  }
  std::vector<std::string> containerNames() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(container)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }
  bool noRecordsLeft() const { return fs::is_empty(state / "runs"); }
  SweepScope scope() const { return {container, config, "suite.plist"}; }
};

// Runs `steps` as a share run in a child process, which then dies by SIGKILL
// (or, with `signalWhenDone`, tells and waits to be killed). Returns its pid.
pid_t StartRun(const Sandbox& box, const std::function<void(ShareRun&)>& steps, int signalWhenDone = -1) {
  const pid_t pid = ::fork();
  if (pid != 0) return pid;
  auto journal = RunJournal::Start(box.state);
  if (!journal) ::_exit(3);
  ShareRun run{*journal, box.container, box.config};
  steps(run);
  if (signalWhenDone >= 0) {
    (void)!::write(signalWhenDone, "x", 1);
    ::pause();
  }
  ::raise(SIGKILL);
  ::_exit(4);
}

void Reap(pid_t pid) {
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "the run failed with " << status;
}

TEST(SweepDeadRuns, RemovesWhatADeadRunLeftAndNothingElse) {
  using Names = std::vector<std::string>;
  struct Case {
    const char* what;
    std::function<void(ShareRun&)> steps;
    Names containerAfter;     // besides earlier.jpg
    std::string suiteAfter;   // contents of config/suite.plist
    std::function<void(const Sandbox&)> betweenDeathAndSweep = nullptr;
  };
  const Case cases[] = {
      {"temporaries, a folder among them, go",
       [](ShareRun& run) {
         run.journal.willCreateTemporary(run.container / ".incoming-A");
         fs::create_directories(run.container / ".incoming-A" / "sub");
         WriteFile(run.container / ".incoming-A" / "sub" / "f", "half");
         run.journal.willCreateTemporary(run.container / ".thumb.jpg.Xy12Zw");
         WriteFile(run.container / ".thumb.jpg.Xy12Zw", "half");
       },
       {}, "old suite"},
      {"a copy no suite was written for goes",
       [](ShareRun& run) { run.place("7C0E.HEIC", "photo"); }, {}, "old suite"},
      {"a copy the written suite may name stays",
       [](ShareRun& run) {
         run.place("7C0E.HEIC", "photo");
         run.beginSuite();
         run.renameSuite();
       },
       {"7C0E.HEIC"}, "new suite"},
      {"death before the suite's temporary was made: the copy goes",
       [](ShareRun& run) {
         run.place("7C0E.HEIC", "photo");
         run.journal.willWriteSuite(run.suiteTemporary());
       },
       {}, "old suite"},
      {"death before the suite's rename: the copy and the suite's temporary go",
       [](ShareRun& run) {
         run.place("7C0E.HEIC", "photo");
         run.beginSuite();
         run.journal.willRenameSuite();
       },
       {}, "old suite"},
      {"a suite rename that failed names nothing",
       [](ShareRun& run) {
         run.place("7C0E.HEIC", "photo");
         run.beginSuite();
         run.journal.willRenameSuite();
         run.journal.suiteRenameFailed();
         fs::remove(run.suiteTemporary());
       },
       {}, "old suite"},
      {"copies placed after the suite was written go",
       [](ShareRun& run) {
         run.place("A.HEIC", "photo");
         run.beginSuite();
         run.renameSuite();
         run.place("B.HEIC", "late photo");
       },
       {"A.HEIC"}, "new suite"},
      {"a copy that replaced an earlier file of its name stays",
       [](ShareRun& run) { run.place("earlier.jpg", "newer contents"); }, {}, "old suite"},
      {"a name another item has taken since stays",
       [](ShareRun& run) { run.place("notes.txt", "dead run's copy"); }, {"notes.txt"}, "old suite",
       [](const Sandbox& box) {
         fs::remove(box.container / "notes.txt");
         WriteFile(box.container / "notes.txt", "a later share's copy");
       }},
      {"an item moved aside goes back under its empty name",
       [](ShareRun& run) {
         fs::create_directory(run.container / "album");
         run.journal.willMoveAside(run.container / ".album.old-1", run.container / "album");
         fs::rename(run.container / "album", run.container / ".album.old-1");
       },
       {"album"}, "old suite"},
      {"an item moved aside and replaced goes",
       [](ShareRun& run) {
         fs::create_directory(run.container / "album");
         run.journal.willMoveAside(run.container / ".album.old-1", run.container / "album");
         fs::rename(run.container / "album", run.container / ".album.old-1");
         run.journal.willReplaceItem(run.container / "album", ItemIdentity{});
         fs::create_directory(run.container / "album");
       },
       {"album"}, "old suite"},
      {"a line cut short and names no record holds are left alone",
       [](ShareRun& run) {
         std::ofstream(run.journal.recordPath(), std::ios::app) << "T " << (run.container / ".hidden").string();
       },
       {".hidden"}, "old suite",
       [](const Sandbox& box) { WriteFile(box.container / ".hidden", "the person's own"); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Sandbox box;
    Reap(StartRun(box, c.steps));
    if (c.betweenDeathAndSweep) c.betweenDeathAndSweep(box);

    const SweepReport report = SweepDeadRuns(box.state, box.scope());

    Names expected = c.containerAfter;
    expected.push_back("earlier.jpg");
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(box.containerNames(), expected);
    EXPECT_EQ(ReadFile(box.config / "suite.plist"), c.suiteAfter);
    EXPECT_EQ(std::distance(fs::directory_iterator(box.config), fs::directory_iterator()), 1);
    EXPECT_EQ(report.deadRuns, 1);
    EXPECT_EQ(report.failures, 0);
    EXPECT_TRUE(box.noRecordsLeft());
  }
}

// Records are acted on only in a private runs folder, and only for lines
// naming an item directly in the container (or the suite's temporary beside
// the suite) once ".." and links are resolved.
TEST(SweepDeadRuns, TrustsOnlyLinesNamingItsOwnPlaces) {
  Sandbox box;
  const fs::path outside = box.temp.path() / "home";
  fs::create_directories(outside / ".ssh");
  WriteFile(outside / "notes.txt", "the person's");
  fs::create_directory_symlink(outside, box.container / "up");
  WriteFile(box.container / ".incoming-A", "a dead run's temporary");
  WriteFile(box.container / ".incoming-B", "a dead run's temporary");
  const auto identity = [&](const fs::path& p) {
    const ItemIdentity id = IdentityOf(p);
    return std::to_string(id.device) + " " + std::to_string(id.inode) + " " + std::to_string(id.modifiedSeconds) +
           " " + std::to_string(id.modifiedNanoseconds) + " ";
  };
  const std::vector<std::string> forged = {
      "T " + (outside / ".ssh").string(),
      "T " + (box.container / "up" / ".ssh").string(),
      "T " + (box.container / ".." / "home" / ".ssh").string(),
      "T " + (box.container / "notes.txt").string(),  // not a temporary's name
      "S " + (outside / ".ssh").string(),
      "S " + (box.config / ".other.plist.Ab12").string(),
      "N " + identity(outside / "notes.txt") + (outside / "notes.txt").string(),
      "N " + identity(outside / "notes.txt") + (box.container / "up" / "notes.txt").string(),
      "A " + (outside / ".ssh").string() + "\t" + (outside / "moved").string(),
      "A " + (box.container / ".incoming-B").string() + "\t" + (outside / "moved").string(),
  };
  const std::vector<std::string> trusted = {"T " + (box.container / ".incoming-A").string()};
  struct Case {
    const char* what;
    fs::perms mode;
    std::size_t expectSkipped;
    bool actsOnTrusted;
  };
  for (const Case& c : {Case{"a private folder", fs::perms::owner_all, forged.size(), true},
                        Case{"a folder others can write", fs::perms::all, 0, false}}) {
    SCOPED_TRACE(c.what);
    WriteFile(box.container / ".incoming-A", "a dead run's temporary");
    fs::create_directories(box.state / "runs");
    fs::permissions(box.state / "runs", c.mode);
    std::string record = "halvernsignet-share run 1\n";
    for (const auto& lines : {forged, trusted}) {
      for (const std::string& line : lines) record += line + "\n";
    }
    WriteFile(box.state / "runs" / "0123", record);

    const SweepReport report = SweepDeadRuns(box.state, box.scope());

    EXPECT_EQ(report.linesSkipped, static_cast<int>(c.expectSkipped));
    EXPECT_EQ(report.refused.empty(), c.actsOnTrusted) << report.refused;
    EXPECT_EQ(fs::exists(box.container / ".incoming-A"), !c.actsOnTrusted);
    EXPECT_TRUE(fs::exists(outside / ".ssh"));
    EXPECT_EQ(ReadFile(outside / "notes.txt"), "the person's");
    EXPECT_FALSE(fs::exists(outside / "moved"));
    EXPECT_TRUE(fs::exists(box.container / ".incoming-B"));
    fs::remove(box.state / "runs" / "0123");
  }
}

TEST(SweepDeadRuns, LeavesARunningShareAloneUntilItDies) {
  Sandbox box;
  int pipeFds[2];
  ASSERT_EQ(::pipe(pipeFds), 0);
  const pid_t pid = StartRun(
      box,
      [](ShareRun& run) {
        run.place("7C0E.MOV", "movie");
        run.journal.willCreateTemporary(run.container / ".incoming-B");
        WriteFile(run.container / ".incoming-B", "being copied");
        run.beginSuite();
      },
      pipeFds[1]);
  char ready;
  ASSERT_EQ(::read(pipeFds[0], &ready, 1), 1);
  ::close(pipeFds[0]);
  ::close(pipeFds[1]);

  const SweepReport whileRunning = SweepDeadRuns(box.state, box.scope());
  EXPECT_EQ(whileRunning.liveRuns, 1);
  EXPECT_EQ(whileRunning.itemsRemoved, 0);
  EXPECT_EQ(box.containerNames(), (std::vector<std::string>{".incoming-B", "7C0E.MOV", "earlier.jpg"}));
  EXPECT_TRUE(fs::exists(box.config / ".suite.plist.Ab12Cd"));

  ::kill(pid, SIGKILL);
  Reap(pid);
  const SweepReport afterDeath = SweepDeadRuns(box.state, box.scope());
  EXPECT_EQ(afterDeath.deadRuns, 1);
  EXPECT_EQ(box.containerNames(), std::vector<std::string>{"earlier.jpg"});
  EXPECT_FALSE(fs::exists(box.config / ".suite.plist.Ab12Cd"));
  EXPECT_TRUE(box.noRecordsLeft());
}

TEST(RunJournal, AFinishedRunKeepsItsCopiesAndLeavesNoTemporaryOrRecord) {
  Sandbox box;
  {
    auto journal = RunJournal::Start(box.state);
    ASSERT_TRUE(journal);
    ShareRun run{*journal, box.container, box.config};
    run.place("7C0E.HEIC", "photo");  // the share's last attachment was a text: named by nothing
    journal->willCreateTemporary(box.container / ".incoming-C");
    WriteFile(box.container / ".incoming-C", "a removal that failed");
    EXPECT_EQ(SweepDeadRuns(box.state, box.scope()).liveRuns, 1);
  }
  EXPECT_EQ(box.containerNames(), (std::vector<std::string>{"7C0E.HEIC", "earlier.jpg"}));
  EXPECT_TRUE(box.noRecordsLeft());
}

// A share that ends keeps, of its new items, only those its payload names;
// an item that replaced one of its name stays, and so does everything else.
TEST(RunJournal, FinishKeepsOnlyTheNewItemsThePayloadNames) {
  Sandbox box;
  auto journal = RunJournal::Start(box.state);
  ASSERT_TRUE(journal);
  ShareRun run{*journal, box.container, box.config};
  run.place("named.jpg", "a");
  run.place("left-out.mp4", "b");
  run.place("earlier.jpg", "replaced");
  run.beginSuite();
  run.renameSuite();
  EXPECT_TRUE(journal->suiteWasRenamed());
  EXPECT_EQ(journal->finish(std::unordered_set<std::string>{box.container / "named.jpg"}), 1);
  EXPECT_EQ(box.containerNames(), (std::vector<std::string>{"earlier.jpg", "named.jpg"}));
  EXPECT_EQ(ReadFile(box.container / "earlier.jpg"), "replaced");
  EXPECT_TRUE(box.noRecordsLeft());
}

// Stopped midway: everything the run made goes, the suite stays as it was,
// unless the suite already holds the new payload; then the run goes on.
TEST(RunJournal, StopTakesBackWhatTheRunMadeUnlessTheSuiteHoldsIt) {
  using Outcome = RunJournal::StopOutcome;
  struct Case {
    const char* what;
    std::function<void(ShareRun&)> steps;
    Outcome outcome;
    std::vector<std::string> containerAfter;
    std::string suiteAfter;
  };
  const Case cases[] = {
      {"copies placed, one under way",
       [](ShareRun& run) {
         run.place("a.jpg", "a");
         run.journal.willCreateTemporary(run.container / ".incoming-b");
         fs::create_directories(run.container / ".incoming-b" / "inner");
       },
       Outcome::kRolledBack, {"earlier.jpg"}, "old suite"},
      {"suite being written",
       [](ShareRun& run) {
         run.place("a.jpg", "a");
         run.beginSuite();
       },
       Outcome::kRolledBack, {"earlier.jpg"}, "old suite"},
      {"suite renamed",
       [](ShareRun& run) {
         run.place("a.jpg", "a");
         run.beginSuite();
         run.renameSuite();
       },
       Outcome::kHandedOver, {"a.jpg", "earlier.jpg"}, "new suite"},
  };
  for (const Case& c : cases) {
    Sandbox box;
    auto journal = RunJournal::Start(box.state);
    ASSERT_TRUE(journal);
    ShareRun run{*journal, box.container, box.config};
    c.steps(run);
    EXPECT_EQ(journal->stop(), c.outcome) << c.what;
    if (c.outcome == Outcome::kHandedOver) journal->finish(std::unordered_set<std::string>{box.container / "a.jpg"});
    EXPECT_EQ(box.containerNames(), c.containerAfter) << c.what;
    EXPECT_EQ(ReadFile(box.config / "suite.plist"), c.suiteAfter) << c.what;
    EXPECT_EQ(fs::exists(run.suiteTemporary()), false) << c.what;
    EXPECT_TRUE(box.noRecordsLeft()) << c.what;
  }
  Sandbox box;
  auto finished = RunJournal::Start(box.state);
  finished->finish();
  EXPECT_EQ(finished->stop(), Outcome::kNotRunning);
}

}  // namespace
}  // namespace platform::linux_platform
