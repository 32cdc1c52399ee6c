#include "app/share_stop.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <unistd.h>

#include "app/exit_status.h"

namespace app {
namespace {

namespace lp = platform::linux_platform;

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr unsigned char kCancel = 0;
constexpr unsigned char kQuit = 255;

// The write end of the running ShareStop's pipe, for the handler.
std::atomic<int> gStopPipe{-1};

void RestoreDefaultActions() {
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  for (int signal : kStopSignals) (void)::sigaction(signal, &action, nullptr);
}

// Async-signal-safe only: from the first stop signal on, the next one ends
// the process by its default action.
void OnStopSignal(int signal) {
  const int saved = errno;
  RestoreDefaultActions();
  const int fd = gStopPipe.load();
  const auto byte = static_cast<unsigned char>(signal);
  if (fd >= 0) (void)!::write(fd, &byte, 1);
  errno = saved;
}

void WriteLine(const std::string& line) {
  // A progress line being redrawn on a terminal is cleared first.
  const std::string text = (::isatty(STDERR_FILENO) == 1 ? "\r\033[K" : "") + line + "\n";
  (void)!::write(STDERR_FILENO, text.data(), text.size());
}

}  // namespace

ShareStop::ShareStop(std::shared_ptr<lp::RunJournal> journal) : journal_(std::move(journal)) {
  if (::pipe2(pipe_, O_CLOEXEC) != 0) return;
  gStopPipe.store(pipe_[1]);
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  for (int signal : kStopSignals) sigaddset(&action.sa_mask, signal);
  watcher_ = std::thread([this] { watch(); });
  for (int signal : kStopSignals) (void)::sigaction(signal, &action, nullptr);
}

ShareStop::~ShareStop() {
  RestoreDefaultActions();
  gStopPipe.store(-1);
  if (watcher_.joinable()) {
    const unsigned char quit = kQuit;
    (void)!::write(pipe_[1], &quit, 1);
    watcher_.join();
  }
  for (int fd : pipe_) {
    if (fd >= 0) ::close(fd);
  }
}

void ShareStop::cancel() {
  const unsigned char byte = kCancel;
  if (pipe_[1] >= 0) (void)!::write(pipe_[1], &byte, 1);
}

std::optional<int> ShareStop::statusAfterHandoff() const {
  const int status = statusAfterHandoff_.load();
  if (status < 0) return std::nullopt;
  return status;
}

void ShareStop::watch() {
  for (;;) {
    unsigned char byte = kQuit;
    const ssize_t got = ::read(pipe_[0], &byte, 1);
    if (got < 0 && errno == EINTR) continue;
    if (got != 1 || byte == kQuit) return;
    stop(byte);
    return;  // one stop per run; a later signal takes its default action
  }
}

void ShareStop::stop(int signal) {
  using Outcome = lp::RunJournal::StopOutcome;
  RestoreDefaultActions();  // after Cancel too: a signal now ends it at once
  const Outcome outcome = journal_ ? journal_->stop() : Outcome::kNotRunning;
  const int status = signal == kCancel ? kNeverCompleted : 128 + signal;
  std::string line = "halvernsignet-share: ";
  line += signal == kCancel ? std::string("cancelled by you")
                            : std::string("stopped by SIG") + ::sigabbrev_np(signal);
  switch (outcome) {
    case Outcome::kHandedOver:
      if (signal == kCancel) {
        WriteLine(line + ", too late: everything was already handed over to halvernsignet");
      } else {
        statusAfterHandoff_.store(status);
        WriteLine(line + " once everything was handed over: halvernsignet gets all of it");
      }
      return;
    case Outcome::kRolledBack:
      WriteLine(line + ": nothing was handed over, and what the share had copied was removed");
      break;
    case Outcome::kNotRunning:
      // The share was over (waiting for a window to be closed), or has no record.
      if (!journal_) {
        WriteLine(line + ": what the share had copied stays");
      } else if (journal_->suiteWasRenamed()) {
        WriteLine(line + " once everything was handed over");
      } else {
        WriteLine(line);
      }
      break;
  }
  ::_exit(status);
}

}  // namespace app
