#include "platform/linux/base/progress_text.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>

namespace platform::linux_platform {

std::optional<int> ProgressSnapshot::percent() const {
  if (totalBytes == 0 || bytes > totalBytes) return std::nullopt;
  return static_cast<int>(bytes * 100 / totalBytes);
}

std::optional<double> ProgressSnapshot::secondsLeft() const {
  if (totalBytes == 0 || bytes > totalBytes || bytesPerSecond <= 0) return std::nullopt;
  return static_cast<double>(totalBytes - bytes) / bytesPerSecond;
}

std::string HumanBytes(double bytes) {
  static constexpr std::array<const char*, 5> kUnits = {"B", "KiB", "MiB", "GiB", "TiB"};
  std::size_t unit = 0;
  while (bytes >= 1024.0 && unit + 1 < kUnits.size()) {
    bytes /= 1024.0;
    ++unit;
  }
  char text[32];
  std::snprintf(text, sizeof text, unit == 0 ? "%.0f %s" : "%.1f %s", bytes, kUnits[unit]);
  return text;
}

std::string ClockTime(double seconds) {
  const long long whole = std::llround(std::max(0.0, seconds));
  char text[32];
  std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", whole / 3600, whole / 60 % 60, whole % 60);
  return text;
}

namespace {

std::string ItemCount(const ProgressSnapshot& s) {
  std::string text = "item " + std::to_string(s.item);
  if (s.items >= s.item && s.items > 0) text += " of " + std::to_string(s.items);
  return text;
}

std::string Amount(const ProgressSnapshot& s) {
  std::string text = HumanBytes(static_cast<double>(s.bytes));
  if (s.percent()) text += " of " + HumanBytes(static_cast<double>(s.totalBytes));
  return text;
}

}  // namespace

std::string TerminalLine(const ProgressSnapshot& s) {
  if (s.phase == ProgressSnapshot::Phase::saving) return "Saving the copies to disk...";
  std::string line = "  " + Amount(s);
  if (auto percent = s.percent()) line += "  " + std::to_string(*percent) + "%";
  line += "  " + HumanBytes(s.bytesPerSecond) + "/s";
  if (auto left = s.secondsLeft()) line += "  " + ClockTime(*left) + " left";
  line += "  " + ItemCount(s);
  return line;
}

std::string WindowHeading(const ProgressSnapshot& s) {
  if (s.phase == ProgressSnapshot::Phase::saving) return "Saving the copies to disk";
  return "Copying " + ItemCount(s);
}

std::string WindowAmount(const ProgressSnapshot& s) {
  if (s.phase == ProgressSnapshot::Phase::saving) {
    return HumanBytes(static_cast<double>(s.bytes)) + " copied; making sure it is on the disk";
  }
  std::string text = Amount(s);
  if (auto percent = s.percent()) text += " (" + std::to_string(*percent) + "%)";
  return text;
}

std::string WindowTimeLeft(const ProgressSnapshot& s) {
  if (s.phase == ProgressSnapshot::Phase::saving) return "Almost done";
  const std::string rate = HumanBytes(s.bytesPerSecond) + "/s";
  if (auto left = s.secondsLeft()) return "About " + ClockTime(*left) + " left (" + rate + ")";
  return rate;
}

}  // namespace platform::linux_platform
