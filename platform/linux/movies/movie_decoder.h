#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "platform/av_foundation.h"
#include "platform/linux/movies/ffmpeg_handles.h"
#include "platform/linux/movies/image_orientation.h"
#include "platform/status.h"
#include "platform/status_or.h"

struct AVIOContext;

namespace platform::linux_platform {

class MemoryReader;

// What a caller wants of a still picture.
struct ImageRequest {
  bool appliesTransform = false;
  int maxWidth = 0;  // 0: no bound
  int maxHeight = 0;
};

// One local movie file, opened once, from which still pictures are taken.
// Owns every FFmpeg object it uses. Not thread-safe: callers serialise.
class MovieDecoder {
 public:
  // Bounds that keep a hostile file from costing much.
  static constexpr int kMaxSide = 16384;
  static constexpr std::int64_t kMaxPixels = std::int64_t{kMaxSide} * kMaxSide;
  static constexpr int kMaxPacketsPerImage = 4096;
  static constexpr std::chrono::seconds kTimeBudget{10};

  // Opens the file at the absolute `path` through FFmpeg's file protocol,
  // with a fixed list of movie containers. Failure is kept in openStatus().
  explicit MovieDecoder(const std::string& path);
  // Reads the movie from memory instead, with the same formats and bounds
  // (for fuzzing). `bytes` must outlive the decoder.
  explicit MovieDecoder(std::span<const std::uint8_t> bytes);
  ~MovieDecoder();
  MovieDecoder(const MovieDecoder&) = delete;
  MovieDecoder& operator=(const MovieDecoder&) = delete;

  const Status& openStatus() const { return openStatus_; }

  // The playing time (end minus start); invalid when unknown.
  CMTime duration() const { return duration_; }

  // The key frame at or before `time` (the last key frame when `time` lies
  // past the end), decoded alone, scaled and turned as asked.
  StatusOr<CGImage> imageAt(CMTime time, const ImageRequest& request);

  // Frames this decoder has produced so far.
  std::int64_t framesDecoded() const { return framesDecoded_; }

 private:
  Status open(const std::string& path);
  // Opens `url`, or reads through `io` when one is given.
  Status openInput(const std::string& url, AVIOContext* io);
  // The three steps of imageAt: the decoder ready for `time`; the key frame
  // at or before it decoded into frame_; frame_ scaled and turned as asked.
  Status prepareFor(CMTime time);
  Status decodeKeyFrameAt(CMTime time);
  StatusOr<CGImage> convertFrame(const ImageRequest& request);
  Status openDecoder();
  CMTime findDuration() const;
  // Reads to the next key packet of the video stream; EOF when none is left.
  int readKeyPacket(int* packetsLeft);
  // The last key packet at or before `target` found by reading forward from
  // the current position, or from the start.
  int scanForKeyPacket(std::int64_t target, int* packetsLeft);
  int decodeHeldPacket();
  int decodeOnwards(int* packetsLeft);
  static int interrupted(void* self);

  std::unique_ptr<MemoryReader> memory_;  // outlives format_, which reads through it
  FormatContextPtr format_;
  CodecContextPtr codec_;
  PacketPtr packet_;
  FramePtr frame_;
  SwsContextPtr scaler_;
  int streamIndex_ = -1;
  FrameOrientation orientation_;
  CMTime duration_;
  Status openStatus_;
  std::int64_t framesDecoded_ = 0;
  std::chrono::steady_clock::time_point deadline_;
};

// Frames decoded by every MovieDecoder of this process (for benchmarks).
std::int64_t FramesDecodedInProcess();

}  // namespace platform::linux_platform
