#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace platform::linux_platform {

// Where a share's copying stands at one moment: what the terminal line and
// the progress window both show.
struct ProgressSnapshot {
  enum class Phase { copying, saving };
  Phase phase = Phase::copying;
  std::uint64_t item = 0;        // the item being copied, counting from 1
  std::uint64_t items = 0;       // how many will be copied; 0 when not known
  std::uint64_t bytes = 0;       // copied so far
  std::uint64_t totalBytes = 0;  // to copy in all; 0 when not known
  double seconds = 0;            // since the first copy started
  double bytesPerSecond = 0;

  // Whole percent of totalBytes, or none when the total is not known.
  std::optional<int> percent() const;
  // Seconds until totalBytes at the rate so far, or none.
  std::optional<double> secondsLeft() const;
};

// "512 B", "1.5 KiB", "3.2 GiB".
std::string HumanBytes(double bytes);
// "0:00:07", "1:02:03", like rsync's time left.
std::string ClockTime(double seconds);

// The terminal line, in the manner of `rsync --info=progress2`:
// "  1.5 GiB of 3.0 GiB  50%  307.2 MiB/s  0:00:05 left  item 2 of 3", and
// "Saving the copies to disk..." while they are made durable.
std::string TerminalLine(const ProgressSnapshot& snapshot);

// The window's lines: "Copying item 2 of 3", "1.5 GiB of 3.0 GiB (50%)",
// "About 0:00:05 left (307.2 MiB/s)"; while saving, "Saving the copies to
// disk" and its explanation.
std::string WindowHeading(const ProgressSnapshot& snapshot);
std::string WindowAmount(const ProgressSnapshot& snapshot);
std::string WindowTimeLeft(const ProgressSnapshot& snapshot);

}  // namespace platform::linux_platform
