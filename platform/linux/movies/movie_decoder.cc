#include "platform/linux/movies/movie_decoder.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <limits>

#include <sys/stat.h>

#include "platform/linux/movies/ffmpeg_error.h"
#include "platform/linux/movies/frame_scaler.h"
#include "platform/linux/movies/memory_reader.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/mathematics.h>
}

namespace platform::linux_platform {
namespace {

// Single-file movie containers only: nothing that names other files or URLs
// (concat, HLS, DASH, image sequences, playlists).
constexpr char kMovieFormats[] =
    "mov,mp4,m4a,3gp,3g2,mj2,matroska,webm,avi,mpegts,mpeg,flv,ogg,asf,mxf,dv,nut,wtv";

std::atomic<std::int64_t> processFramesDecoded{0};

bool SizeAllowed(std::int64_t width, std::int64_t height) {
  return width <= MovieDecoder::kMaxSide && height <= MovieDecoder::kMaxSide &&
         width * height <= MovieDecoder::kMaxPixels;
}

// The video stream a player would show: the default one, else the first,
// never a cover picture.
int ChooseVideoStream(const AVFormatContext& format) {
  int chosen = -1;
  for (unsigned i = 0; i < format.nb_streams; ++i) {
    const AVStream& stream = *format.streams[i];
    if (stream.codecpar->codec_type != AVMEDIA_TYPE_VIDEO || stream.codecpar->codec_id == AV_CODEC_ID_NONE ||
        (stream.disposition & AV_DISPOSITION_ATTACHED_PIC) != 0) {
      continue;
    }
    if (chosen < 0 || (stream.disposition & AV_DISPOSITION_DEFAULT) != 0) {
      if (chosen >= 0 && (format.streams[chosen]->disposition & AV_DISPOSITION_DEFAULT) != 0) continue;
      chosen = static_cast<int>(i);
    }
  }
  return chosen;
}

std::int64_t PacketTime(const AVPacket& packet) {
  return packet.pts != AV_NOPTS_VALUE ? packet.pts : packet.dts;
}

}  // namespace

std::int64_t FramesDecodedInProcess() { return processFramesDecoded.load(); }

MovieDecoder::MovieDecoder(const std::string& path) { openStatus_ = open(path); }

MovieDecoder::~MovieDecoder() = default;

int MovieDecoder::interrupted(void* self) {
  return std::chrono::steady_clock::now() > static_cast<MovieDecoder*>(self)->deadline_ ? 1 : 0;
}

MovieDecoder::MovieDecoder(std::span<const std::uint8_t> bytes)
    : memory_(std::make_unique<MemoryReader>(bytes)) {
  openStatus_ = memory_->context() != nullptr ? openInput(std::string(), memory_->context())
                                              : FfmpegError("cannot open the movie", AVERROR(ENOMEM));
}

Status MovieDecoder::open(const std::string& path) {
  // A relative path could be read by FFmpeg as "protocol:rest".
  if (path.empty() || path.front() != '/') return Status::InvalidArgument("not a local file path");
  // A FIFO or device would block open() or never end, beyond the interrupt's reach.
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) {
    const int err = errno;
    return Status::FromErrno(err, std::string("cannot open the movie: ") + std::strerror(err));
  }
  if (!S_ISREG(info.st_mode)) return Status::NotSupported("not a regular file");
  // The explicit "file:" keeps a path with a colon from naming a protocol.
  return openInput("file:" + path, nullptr);
}

Status MovieDecoder::openInput(const std::string& url, AVIOContext* io) {
  deadline_ = std::chrono::steady_clock::now() + kTimeBudget;
  AVFormatContext* raw = avformat_alloc_context();
  packet_.reset(av_packet_alloc());
  frame_.reset(av_frame_alloc());
  if (raw == nullptr || !packet_ || !frame_) {
    avformat_free_context(raw);
    return FfmpegError("cannot open the movie", AVERROR(ENOMEM));
  }
  raw->interrupt_callback.callback = &MovieDecoder::interrupted;
  raw->interrupt_callback.opaque = this;
  // Given an I/O context, FFmpeg reads through it and opens nothing itself.
  if (io != nullptr) raw->pb = io;

  AVDictionary* options = nullptr;
  av_dict_set(&options, "protocol_whitelist", "file", 0);
  av_dict_set(&options, "format_whitelist", kMovieFormats, 0);
  av_dict_set(&options, "probesize", "5000000", 0);
  av_dict_set(&options, "analyzeduration", "5000000", 0);
  const int opened = avformat_open_input(&raw, url.c_str(), nullptr, &options);
  av_dict_free(&options);
  if (opened < 0) return FfmpegError("cannot open the movie", opened);  // raw is freed
  format_.reset(raw);

  // Most containers say all we need in their header; probing decodes frames,
  // so it is done only when the header leaves the picture or length unknown.
  streamIndex_ = ChooseVideoStream(*format_);
  const bool pictureKnown = streamIndex_ >= 0 && format_->streams[streamIndex_]->codecpar->width > 0 &&
                            format_->streams[streamIndex_]->codecpar->height > 0;
  if (!pictureKnown || !findDuration().isValid()) {
    const int probed = avformat_find_stream_info(format_.get(), nullptr);
    if (probed < 0 && interrupted(this)) return FfmpegError("cannot read the movie", probed);
    streamIndex_ = ChooseVideoStream(*format_);
  }
  duration_ = findDuration();

  if (streamIndex_ >= 0) {
    for (unsigned i = 0; i < format_->nb_streams; ++i) {
      if (static_cast<int>(i) != streamIndex_) format_->streams[i]->discard = AVDISCARD_ALL;
    }
    const AVStream* stream = format_->streams[streamIndex_];
    size_t size = 0;
    const std::uint8_t* matrix = av_stream_get_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, &size);
    if (matrix != nullptr && size >= 9 * sizeof(std::int32_t)) {
      std::array<std::int32_t, 9> values{};
      std::memcpy(values.data(), matrix, sizeof values);
      orientation_ = OrientationFromDisplayMatrix(values);
    }
  }
  return Status::OK();
}

CMTime MovieDecoder::findDuration() const {
  if (format_->duration != AV_NOPTS_VALUE && format_->duration > 0) {
    return CMTime{format_->duration, AV_TIME_BASE};
  }
  if (streamIndex_ < 0) return {};
  const AVStream& stream = *format_->streams[streamIndex_];
  if (stream.duration == AV_NOPTS_VALUE || stream.duration <= 0 || stream.time_base.num <= 0 ||
      stream.time_base.den <= 0) {
    return {};
  }
  if (stream.time_base.num == 1) return CMTime{stream.duration, stream.time_base.den};
  return CMTime{av_rescale_q(stream.duration, stream.time_base, AVRational{1, AV_TIME_BASE}), AV_TIME_BASE};
}

Status MovieDecoder::openDecoder() {
  const AVStream& stream = *format_->streams[streamIndex_];
  const AVCodecParameters& parameters = *stream.codecpar;
  if (!SizeAllowed(parameters.width, parameters.height)) {
    return Status::NotSupported("the movie's picture is too large (" + std::to_string(parameters.width) + "x" +
                 std::to_string(parameters.height) + ")");
  }
  const AVCodec* decoder = avcodec_find_decoder(parameters.codec_id);
  if (decoder == nullptr) return Status::NotSupported("no decoder for the movie's video");
  CodecContextPtr codec(avcodec_alloc_context3(decoder));
  if (!codec) return FfmpegError("cannot decode the movie", AVERROR(ENOMEM));
  int result = avcodec_parameters_to_context(codec.get(), &parameters);
  if (result < 0) return FfmpegError("cannot decode the movie", result);
  codec->pkt_timebase = stream.time_base;
  // One frame is decoded: threads would only add start-up cost and memory.
  codec->thread_count = 1;
  codec->max_pixels = kMaxPixels;
  if ((result = avcodec_open2(codec.get(), decoder, nullptr)) < 0) {
    return FfmpegError("cannot decode the movie", result);
  }
  codec_ = std::move(codec);
  return Status::OK();
}

int MovieDecoder::readKeyPacket(int* packetsLeft) {
  while ((*packetsLeft)-- > 0) {
    av_packet_unref(packet_.get());
    const int result = av_read_frame(format_.get(), packet_.get());
    if (result < 0) return result;
    if (packet_->stream_index == streamIndex_ && (packet_->flags & AV_PKT_FLAG_KEY) != 0) return 0;
  }
  av_packet_unref(packet_.get());
  return AVERROR_EOF;
}

int MovieDecoder::scanForKeyPacket(std::int64_t target, int* packetsLeft) {
  const AVStream& stream = *format_->streams[streamIndex_];
  const std::int64_t start = stream.start_time != AV_NOPTS_VALUE ? stream.start_time : 0;
  int result = av_seek_frame(format_.get(), streamIndex_, start, AVSEEK_FLAG_BACKWARD);
  if (result < 0) result = avformat_seek_file(format_.get(), -1, INT64_MIN, 0, INT64_MAX, AVSEEK_FLAG_BYTE);
  if (result < 0) return result;

  PacketPtr held(av_packet_alloc());
  if (!held) return AVERROR(ENOMEM);
  bool have = false;
  while ((*packetsLeft)-- > 0) {
    av_packet_unref(packet_.get());
    result = av_read_frame(format_.get(), packet_.get());
    if (result < 0) break;
    if (packet_->stream_index != streamIndex_ || (packet_->flags & AV_PKT_FLAG_KEY) == 0) continue;
    const std::int64_t time = PacketTime(*packet_);
    const bool known = time != AV_NOPTS_VALUE;
    if (have && known && time > target) break;
    av_packet_unref(held.get());
    av_packet_move_ref(held.get(), packet_.get());
    have = true;
    if (known && time >= target) break;
  }
  av_packet_unref(packet_.get());
  if (!have) return result < 0 ? result : AVERROR_EOF;
  av_packet_move_ref(packet_.get(), held.get());
  return 0;
}

int MovieDecoder::decodeHeldPacket() {
  avcodec_flush_buffers(codec_.get());
  int result = avcodec_send_packet(codec_.get(), packet_.get());
  if (result < 0) return result;
  // Draining right away makes the decoder give up the key frame without
  // waiting for the frames that would follow it.
  if ((result = avcodec_send_packet(codec_.get(), nullptr)) < 0) return result;
  result = avcodec_receive_frame(codec_.get(), frame_.get());
  if (result >= 0) {
    ++framesDecoded_;
    ++processFramesDecoded;
  }
  return result;
}

int MovieDecoder::decodeOnwards(int* packetsLeft) {
  // Some key frames (open groups, recovery points) only show after the
  // frames that follow them: feed packets until a picture comes out.
  avcodec_flush_buffers(codec_.get());
  int result = avcodec_send_packet(codec_.get(), packet_.get());
  if (result < 0) return result;
  bool draining = false;
  for (;;) {
    result = avcodec_receive_frame(codec_.get(), frame_.get());
    if (result >= 0) {
      ++framesDecoded_;
      ++processFramesDecoded;
      return 0;
    }
    if (result != AVERROR(EAGAIN) || draining) return result;
    do {
      av_packet_unref(packet_.get());
      result = (*packetsLeft)-- > 0 ? av_read_frame(format_.get(), packet_.get()) : AVERROR_EOF;
    } while (result >= 0 && packet_->stream_index != streamIndex_);
    if (result < 0) {
      draining = true;
      result = avcodec_send_packet(codec_.get(), nullptr);
    } else {
      result = avcodec_send_packet(codec_.get(), packet_.get());
    }
    if (result < 0 && result != AVERROR_INVALIDDATA) return result;
  }
}

StatusOr<CGImage> MovieDecoder::imageAt(CMTime time, const ImageRequest& request) {
  if (Status ready = prepareFor(time); !ready.ok()) return ready;
  if (Status decoded = decodeKeyFrameAt(time); !decoded.ok()) return decoded;
  return convertFrame(request);
}

Status MovieDecoder::prepareFor(CMTime time) {
  if (!openStatus_.ok()) return openStatus_;
  if (streamIndex_ < 0) return Status::NotFound("the movie has no video");
  if (!time.isValid()) return Status::InvalidArgument("no time was given for the frame");
  deadline_ = std::chrono::steady_clock::now() + kTimeBudget;
  if (!codec_) return openDecoder();
  return Status::OK();
}

Status MovieDecoder::decodeKeyFrameAt(CMTime time) {
  const AVStream& stream = *format_->streams[streamIndex_];
  const std::int64_t start = stream.start_time != AV_NOPTS_VALUE ? stream.start_time : 0;
  const std::int64_t offset =
      av_rescale_q(std::max<std::int64_t>(time.value, 0), AVRational{1, time.timescale}, stream.time_base);
  const std::int64_t target =
      offset > std::numeric_limits<std::int64_t>::max() - start ? std::numeric_limits<std::int64_t>::max() : start + offset;

  int packetsLeft = kMaxPacketsPerImage;
  int result = av_seek_frame(format_.get(), streamIndex_, target, AVSEEK_FLAG_BACKWARD);
  if (result >= 0) result = readKeyPacket(&packetsLeft);
  // Not every demuxer lands on the last key frame when asked for a time past
  // the end; read forward from the start instead.
  if (result < 0 && !interrupted(this)) result = scanForKeyPacket(target, &packetsLeft);
  if (result < 0) return FfmpegError("no key frame found", result);

  result = decodeHeldPacket();
  if (result < 0 && !interrupted(this)) result = decodeOnwards(&packetsLeft);
  av_packet_unref(packet_.get());
  if (result < 0) {
    return FfmpegError("the frame could not be decoded", result == AVERROR(EAGAIN) ? AVERROR_EOF : result);
  }
  return Status::OK();
}

StatusOr<CGImage> MovieDecoder::convertFrame(const ImageRequest& request) {
  if (!SizeAllowed(frame_->width, frame_->height)) return Status::NotSupported("the decoded frame is too large");

  const FrameOrientation orientation = request.appliesTransform ? orientation_ : FrameOrientation{};
  const AVRational aspect = av_guess_sample_aspect_ratio(format_.get(), format_->streams[streamIndex_], frame_.get());
  // Fit the unturned picture into the bound as it will lie once turned.
  const int boundWidth = orientation.swapsAxes() ? request.maxHeight : request.maxWidth;
  const int boundHeight = orientation.swapsAxes() ? request.maxWidth : request.maxHeight;
  const PixelSize size = FitWithin(frame_->width, frame_->height, aspect.num, aspect.den, boundWidth, boundHeight);
  if (!SizeAllowed(size.width, size.height)) return Status::NotSupported("the picture would be too large");
  StatusOr<CGImage> image = ScaleFrame(*frame_, size, scaler_);
  av_frame_unref(frame_.get());
  // A picture is usually asked for once: give the decoder's frame pool and
  // tables back now rather than hold megabytes while the caller encodes.
  codec_.reset();
  scaler_.reset();
  if (!image.ok()) return image.status();
  return Reorient(*image, orientation);
}

}  // namespace platform::linux_platform
