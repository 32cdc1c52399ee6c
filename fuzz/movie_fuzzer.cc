// Any bytes shared as a movie: reading the duration and taking a frame never
// crash or hang, and a frame that comes out fits the thumbnail bound and
// encodes. The bytes are read from memory, through the same demuxers and
// bounds as a file, so that each input costs no file system work.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "platform/linux/movies/movie_decoder.h"
#include "platform/linux/movies/png_encoder.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using platform::linux_platform::MovieDecoder;
  MovieDecoder decoder(std::span<const std::uint8_t>(data, size));
  (void)platform::CMTimeGetSeconds(decoder.duration());
  const auto image = decoder.imageAt(platform::CMTimeMakeWithSeconds(600, 1),
                                     platform::linux_platform::ImageRequest{true, 360, 360});
  if (image.ok()) {
    if (image->width < 1 || image->height < 1 || image->width > 360 || image->height > 360) std::abort();
    if (image->pixels.size() != static_cast<std::size_t>(image->width * image->height * image->channels)) std::abort();
    if (!platform::linux_platform::EncodePNG(*image).ok()) std::abort();
  }
  return 0;
}
