#include "platform/av_foundation.h"

#include <limits>

namespace platform {

CMTime CMTimeMakeWithSeconds(double seconds, std::int32_t preferredTimescale) {
  if (!std::isfinite(seconds) || preferredTimescale <= 0) return CMTime{};
  const double value = std::round(seconds * preferredTimescale);
  if (value > static_cast<double>(std::numeric_limits<std::int64_t>::max()) ||
      value < static_cast<double>(std::numeric_limits<std::int64_t>::min())) {
    return CMTime{};
  }
  return CMTime{static_cast<std::int64_t>(value), preferredTimescale};
}

double CMTimeGetSeconds(CMTime time) {
  if (!time.isValid()) return std::numeric_limits<double>::quiet_NaN();
  return static_cast<double>(time.value) / time.timescale;
}

}  // namespace platform
