#pragma once

// Owning handles for FFmpeg objects. Private to platform/linux: the types are
// only forward-declared here so that no FFmpeg header leaks to includers.

#include <memory>

struct AVCodecContext;
struct AVFormatContext;
struct AVFrame;
struct AVPacket;
struct SwsContext;

namespace platform::linux_platform {

struct FormatContextCloser {
  void operator()(AVFormatContext* context) const;
};
struct CodecContextFreer {
  void operator()(AVCodecContext* context) const;
};
struct PacketFreer {
  void operator()(AVPacket* packet) const;
};
struct FrameFreer {
  void operator()(AVFrame* frame) const;
};
struct SwsContextFreer {
  void operator()(SwsContext* context) const;
};

using FormatContextPtr = std::unique_ptr<AVFormatContext, FormatContextCloser>;
using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextFreer>;
using PacketPtr = std::unique_ptr<AVPacket, PacketFreer>;
using FramePtr = std::unique_ptr<AVFrame, FrameFreer>;
using SwsContextPtr = std::unique_ptr<SwsContext, SwsContextFreer>;

}  // namespace platform::linux_platform
