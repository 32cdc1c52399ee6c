#include "platform/linux/movies/png_encoder.h"

#include <cstring>

#include "platform/linux/movies/ffmpeg_error.h"
#include "platform/linux/movies/ffmpeg_handles.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
}

namespace platform::linux_platform {

StatusOr<Data> EncodePNG(const CGImage& image) {
  if (image.width <= 0 || image.height <= 0 || (image.channels != 3 && image.channels != 4) ||
      image.pixels.size() != static_cast<std::size_t>(image.width) * image.height * image.channels) {
    return Status::InvalidArgument("the image has no pixels to encode");
  }
  const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_PNG);
  if (codec == nullptr) {
    return Status::NotSupported("this FFmpeg has no PNG encoder");
  }
  CodecContextPtr context(avcodec_alloc_context3(codec));
  FramePtr frame(av_frame_alloc());
  PacketPtr packet(av_packet_alloc());
  if (!context || !frame || !packet) {
    return FfmpegError("cannot encode PNG", AVERROR(ENOMEM));
  }
  const AVPixelFormat format = image.channels == 4 ? AV_PIX_FMT_RGBA : AV_PIX_FMT_RGB24;
  context->width = image.width;
  context->height = image.height;
  context->pix_fmt = format;
  context->time_base = AVRational{1, 1};
  // zlib level 3 takes half the time of the default level on a 360-pixel
  // frame for about 15% more bytes (37 KB instead of 32 KB).
  context->compression_level = 3;
  int result = avcodec_open2(context.get(), codec, nullptr);
  if (result < 0) {
    return FfmpegError("cannot start the PNG encoder", result);
  }

  frame->width = image.width;
  frame->height = image.height;
  frame->format = format;
  if ((result = av_frame_get_buffer(frame.get(), 0)) < 0) {
    return FfmpegError("cannot encode PNG", result);
  }
  const auto rowBytes = static_cast<std::size_t>(image.width) * image.channels;
  for (int y = 0; y < image.height; ++y) {
    std::memcpy(frame->data[0] + static_cast<std::ptrdiff_t>(y) * frame->linesize[0],
                image.pixels.data() + y * rowBytes, rowBytes);
  }

  if ((result = avcodec_send_frame(context.get(), frame.get())) < 0 ||
      (result = avcodec_send_frame(context.get(), nullptr)) < 0 ||
      (result = avcodec_receive_packet(context.get(), packet.get())) < 0) {
    return FfmpegError("cannot encode PNG", result);
  }
  return Data(packet->data, packet->data + packet->size);
}

}  // namespace platform::linux_platform
