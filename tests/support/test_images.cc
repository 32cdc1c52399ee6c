#include "tests/support/test_images.h"

#include <cstring>
#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace testsupport {

std::optional<platform::CGImage> DecodePNG(const platform::Data& png) {
  const AVCodec* decoder = avcodec_find_decoder(AV_CODEC_ID_PNG);
  AVCodecContext* context = avcodec_alloc_context3(decoder);
  AVPacket* packet = av_packet_alloc();
  AVFrame* frame = av_frame_alloc();
  std::optional<platform::CGImage> image;
  if (context != nullptr && packet != nullptr && frame != nullptr && avcodec_open2(context, decoder, nullptr) >= 0 &&
      av_new_packet(packet, static_cast<int>(png.size())) >= 0) {
    std::memcpy(packet->data, png.data(), png.size());
    if (avcodec_send_packet(context, packet) >= 0 && avcodec_send_packet(context, nullptr) >= 0 &&
        avcodec_receive_frame(context, frame) >= 0 &&
        (frame->format == AV_PIX_FMT_RGB24 || frame->format == AV_PIX_FMT_RGBA)) {
      platform::CGImage decoded;
      decoded.width = frame->width;
      decoded.height = frame->height;
      decoded.channels = frame->format == AV_PIX_FMT_RGBA ? 4 : 3;
      const auto rowBytes = static_cast<std::size_t>(decoded.width) * decoded.channels;
      for (int y = 0; y < decoded.height; ++y) {
        const std::uint8_t* row = frame->data[0] + static_cast<std::ptrdiff_t>(y) * frame->linesize[0];
        decoded.pixels.insert(decoded.pixels.end(), row, row + rowBytes);
      }
      image = std::move(decoded);
    }
  }
  av_frame_free(&frame);
  av_packet_free(&packet);
  avcodec_free_context(&context);
  return image;
}

RGB PixelAt(const platform::CGImage& image, int x, int y) {
  const std::size_t at = (static_cast<std::size_t>(y) * image.width + x) * image.channels;
  return RGB{image.pixels[at], image.pixels[at + 1], image.pixels[at + 2]};
}

}  // namespace testsupport
