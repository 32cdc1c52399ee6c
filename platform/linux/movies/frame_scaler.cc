#include "platform/linux/movies/frame_scaler.h"

#include <algorithm>
#include <cstdint>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

namespace platform::linux_platform {
namespace {

// numerator / denominator rounded half up, at least 1.
int RoundedRatio(std::int64_t numerator, std::int64_t denominator) {
  const std::int64_t rounded = (2 * numerator + denominator) / (2 * denominator);
  return static_cast<int>(std::clamp<std::int64_t>(rounded, 1, INT32_MAX));
}

// Swscale wants the full-range YUVJ formats renamed and the range set instead.
AVPixelFormat WithoutDeprecatedRange(AVPixelFormat format, bool* fullRange) {
  *fullRange = true;
  switch (format) {
    case AV_PIX_FMT_YUVJ420P: return AV_PIX_FMT_YUV420P;
    case AV_PIX_FMT_YUVJ422P: return AV_PIX_FMT_YUV422P;
    case AV_PIX_FMT_YUVJ444P: return AV_PIX_FMT_YUV444P;
    case AV_PIX_FMT_YUVJ440P: return AV_PIX_FMT_YUV440P;
    case AV_PIX_FMT_YUVJ411P: return AV_PIX_FMT_YUV411P;
    default: *fullRange = false; return format;
  }
}

}  // namespace

PixelSize FitWithin(int width, int height, int sampleAspectNum, int sampleAspectDen, int maxWidth,
                    int maxHeight) {
  if (width <= 0 || height <= 0) return {};
  // Unknown or absurd pixel aspects count as square.
  if (sampleAspectNum <= 0 || sampleAspectDen <= 0 || sampleAspectNum > 65535 || sampleAspectDen > 65535) {
    sampleAspectNum = sampleAspectDen = 1;
  }
  // Shown width as the exact fraction shownNum / shownDen.
  const std::int64_t shownNum = std::int64_t{width} * sampleAspectNum;
  const std::int64_t shownDen = sampleAspectDen;
  const std::int64_t h = height;
  const bool widthTooBig = maxWidth > 0 && shownNum > std::int64_t{maxWidth} * shownDen;
  const bool heightTooBig = maxHeight > 0 && h > maxHeight;
  if (!widthTooBig && !heightTooBig) return {RoundedRatio(shownNum, shownDen), height};

  // Whichever side binds: width binds when maxW/shownW <= maxH/h.
  const bool widthBinds =
      maxHeight <= 0 || (maxWidth > 0 && std::int64_t{maxWidth} * shownDen * h <= std::int64_t{maxHeight} * shownNum);
  if (widthBinds) return {maxWidth, RoundedRatio(h * maxWidth * shownDen, shownNum)};
  return {RoundedRatio(shownNum * maxHeight, shownDen * h), maxHeight};
}

StatusOr<CGImage> ScaleFrame(const AVFrame& frame, PixelSize size, SwsContextPtr& scaler) {
  const auto sourceFormat = static_cast<AVPixelFormat>(frame.format);
  const AVPixFmtDescriptor* descriptor = av_pix_fmt_desc_get(sourceFormat);
  if (descriptor == nullptr || frame.width <= 0 || frame.height <= 0 || size.width <= 0 || size.height <= 0) {
    return Status::Corruption("the decoded frame has no usable picture");
  }
  const bool alpha = (descriptor->flags & AV_PIX_FMT_FLAG_ALPHA) != 0;
  const AVPixelFormat outputFormat = alpha ? AV_PIX_FMT_RGBA : AV_PIX_FMT_RGB24;
  bool fullRange = false;
  const AVPixelFormat inputFormat = WithoutDeprecatedRange(sourceFormat, &fullRange);
  fullRange = fullRange || frame.color_range == AVCOL_RANGE_JPEG;

  // Area averaging keeps detail when shrinking a lot; same cost as bilinear here.
  SwsContext* context = sws_getCachedContext(scaler.release(), frame.width, frame.height, inputFormat,
                                             size.width, size.height, outputFormat,
                                             SWS_AREA | SWS_ACCURATE_RND, nullptr, nullptr, nullptr);
  scaler.reset(context);
  if (context == nullptr) {
    return Status::NotSupported("cannot convert the frame's pixel format");
  }
  if (fullRange) {
    int* inverse = nullptr;
    int* table = nullptr;
    int sourceRange = 0, destinationRange = 0, brightness = 0, contrast = 0, saturation = 0;
    if (sws_getColorspaceDetails(context, &inverse, &sourceRange, &table, &destinationRange, &brightness,
                                 &contrast, &saturation) >= 0) {
      sws_setColorspaceDetails(context, inverse, 1, table, destinationRange, brightness, contrast, saturation);
    }
  }

  CGImage image;
  image.width = size.width;
  image.height = size.height;
  image.channels = alpha ? 4 : 3;
  image.pixels.resize(static_cast<std::size_t>(size.width) * size.height * image.channels);
  std::uint8_t* planes[4] = {image.pixels.data(), nullptr, nullptr, nullptr};
  int strides[4] = {size.width * image.channels, 0, 0, 0};
  const int rows = sws_scale(context, frame.data, frame.linesize, 0, frame.height, planes, strides);
  if (rows != size.height) {
    return Status::IOError("the frame could not be scaled");
  }
  return image;
}

}  // namespace platform::linux_platform
