#include "tests/support/test_movies.h"

#include <cmath>
#include <fstream>
#include <memory>
#include <random>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/display.h>
#include <libavutil/error.h>
#include <libavutil/opt.h>
#include <libavutil/samplefmt.h>
#include <libswscale/swscale.h>
}

namespace testsupport {
namespace {

using platform::Status;

std::string ErrorText(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, text, sizeof text);
  return text;
}

Status Failed(const std::string& what, int code) { return Status::IOError(what + ": " + ErrorText(code)); }

struct OutputCloser {
  void operator()(AVFormatContext* context) const {
    if (context->pb != nullptr) avio_closep(&context->pb);
    avformat_free_context(context);
  }
};
struct CodecFreer {
  void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
struct FrameFreer {
  void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct PacketFreer {
  void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
struct ScalerFreer {
  void operator()(SwsContext* context) const { sws_freeContext(context); }
};

// The encoder's own 8-bit 4:2:0 format when it has one, else its first.
AVPixelFormat EncoderFormat(const AVCodec& encoder) {
  if (encoder.pix_fmts == nullptr) return AV_PIX_FMT_YUV420P;
  for (const AVPixelFormat* f = encoder.pix_fmts; *f != AV_PIX_FMT_NONE; ++f) {
    if (*f == AV_PIX_FMT_YUV420P) return *f;
  }
  return encoder.pix_fmts[0];
}

// Speed settings of the encoders tests use; an option an encoder lacks is ignored.
void SetFastest(AVCodecContext& codec, const std::string& encoderName) {
  if (encoderName == "libx264") {
    av_opt_set(codec.priv_data, "preset", "ultrafast", 0);
    // Key frames only where the GOP says, so tests know which frame is one.
    av_opt_set(codec.priv_data, "x264-params", "scenecut=0", 0);
  } else if (encoderName == "libx265") {
    av_opt_set(codec.priv_data, "preset", "ultrafast", 0);
    av_opt_set(codec.priv_data, "x265-params", "scenecut=0:log-level=error", 0);
  } else if (encoderName == "libvpx" || encoderName == "libvpx-vp9" || encoderName == "libaom-av1") {
    av_opt_set(codec.priv_data, "deadline", "realtime", 0);
    av_opt_set_int(codec.priv_data, "cpu-used", 8, 0);
  } else {
    // Motion JPEG in limited-range 4:2:0, as cameras write it.
    if (encoderName == "mjpeg") codec.strict_std_compliance = FF_COMPLIANCE_UNOFFICIAL;
    av_opt_set_int(codec.priv_data, "sc_threshold", 1000000000, AV_OPT_SEARCH_CHILDREN);
  }
}

// Limited-range luma for a gray level, the inverse of what decoders show.
int LumaForGray(int gray) { return 16 + (gray * 219 + 127) / 255; }

void PaintFrame(AVFrame& frame, int index) {
  const int luma = LumaForGray(MarkerGray(index));
  const int halfW = frame.width / 2;
  const int halfH = frame.height / 2;
  for (int y = 0; y < frame.height; ++y) {
    std::uint8_t* row = frame.data[0] + static_cast<std::ptrdiff_t>(y) * frame.linesize[0];
    for (int x = 0; x < frame.width; ++x) row[x] = static_cast<std::uint8_t>(x < halfW && y < halfH ? 81 : luma);
  }
  for (int y = 0; y < (frame.height + 1) / 2; ++y) {
    std::uint8_t* u = frame.data[1] + static_cast<std::ptrdiff_t>(y) * frame.linesize[1];
    std::uint8_t* v = frame.data[2] + static_cast<std::ptrdiff_t>(y) * frame.linesize[2];
    for (int x = 0; x < (frame.width + 1) / 2; ++x) {
      const bool red = 2 * x < halfW && 2 * y < halfH;
      u[x] = red ? 90 : 128;
      v[x] = red ? 240 : 128;
    }
  }
}

Status Drain(AVCodecContext& codec, AVFormatContext& output, AVStream& stream, AVPacket& packet) {
  for (;;) {
    int result = avcodec_receive_packet(&codec, &packet);
    if (result == AVERROR(EAGAIN) || result == AVERROR_EOF) return Status::OK();
    if (result < 0) return Failed("encode", result);
    // Each frame lasts one tick; without it the muxer drops the last frame's length.
    if (packet.duration == 0) packet.duration = 1;
    av_packet_rescale_ts(&packet, codec.time_base, stream.time_base);
    packet.stream_index = stream.index;
    if ((result = av_interleaved_write_frame(&output, &packet)) < 0) return Failed("write", result);
  }
}

constexpr int kAudioRate = 48000;

// A silent track encoded a frame at a time alongside the pictures; time
// stamps count samples.
struct AudioTrack {
  std::unique_ptr<AVCodecContext, CodecFreer> codec;
  AVStream* stream = nullptr;
  std::unique_ptr<AVFrame, FrameFreer> frame;
  std::int64_t nextPts = 0;
  std::int64_t endPts = 0;

  bool open() const { return codec != nullptr; }
  // Whether the next audio frame starts no later than `pts` in `timeBase`.
  bool startsBy(std::int64_t pts, AVRational timeBase) const {
    return nextPts < endPts && av_compare_ts(nextPts, codec->time_base, pts, timeBase) <= 0;
  }
};

Status OpenAudio(AVFormatContext& output, const TestMovie& movie, AudioTrack& audio) {
  const AVCodec* encoder = avcodec_find_encoder_by_name(movie.audioCodec.c_str());
  if (encoder == nullptr) return Status::IOError("no encoder " + movie.audioCodec);
  audio.codec.reset(avcodec_alloc_context3(encoder));
  audio.stream = avformat_new_stream(&output, nullptr);
  audio.frame.reset(av_frame_alloc());
  if (!audio.codec || audio.stream == nullptr || !audio.frame) return Status::IOError("out of memory");
  AVCodecContext& codec = *audio.codec;
  codec.sample_rate = kAudioRate;
  codec.sample_fmt = encoder->sample_fmts != nullptr ? encoder->sample_fmts[0] : AV_SAMPLE_FMT_FLTP;
  av_channel_layout_default(&codec.ch_layout, 2);
  codec.bit_rate = 128000;
  codec.time_base = AVRational{1, kAudioRate};
  if (output.oformat->flags & AVFMT_GLOBALHEADER) codec.flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  int result = avcodec_open2(&codec, encoder, nullptr);
  if (result < 0) return Failed("open encoder " + movie.audioCodec, result);
  if ((result = avcodec_parameters_from_context(audio.stream->codecpar, &codec)) < 0) {
    return Failed("parameters", result);
  }
  audio.stream->time_base = codec.time_base;

  AVFrame& frame = *audio.frame;
  frame.nb_samples = codec.frame_size > 0 ? codec.frame_size : 1024;
  frame.format = codec.sample_fmt;
  frame.sample_rate = kAudioRate;
  if ((result = av_channel_layout_copy(&frame.ch_layout, &codec.ch_layout)) < 0) return Failed("frame", result);
  if ((result = av_frame_get_buffer(&frame, 0)) < 0) return Failed("frame", result);
  av_samples_set_silence(frame.extended_data, 0, frame.nb_samples, codec.ch_layout.nb_channels, codec.sample_fmt);
  audio.nextPts = std::llround(movie.startSeconds * kAudioRate);
  audio.endPts =
      audio.nextPts + std::llround((movie.audioSeconds > 0 ? movie.audioSeconds : movie.seconds) * kAudioRate);
  return Status::OK();
}

// Encodes the next whole frame of silence; the track may end up to a frame late.
Status SendAudioFrame(AudioTrack& audio, AVFormatContext& output, AVPacket& packet) {
  audio.frame->pts = audio.nextPts;
  audio.nextPts += audio.frame->nb_samples;
  if (int result = avcodec_send_frame(audio.codec.get(), audio.frame.get()); result < 0) {
    return Failed("encode audio", result);
  }
  return Drain(*audio.codec, output, *audio.stream, packet);
}

}  // namespace

bool HasH264Encoder() { return avcodec_find_encoder_by_name("libx264") != nullptr; }

int MarkerGray(int frameIndex) { return 24 + (frameIndex * 3) % 200; }

Status WriteTestMovie(const std::filesystem::path& path, const TestMovie& movie) {
  AVFormatContext* rawOutput = nullptr;
  int result = avformat_alloc_output_context2(&rawOutput, nullptr, nullptr, path.c_str());
  if (result < 0) return Failed("container", result);
  std::unique_ptr<AVFormatContext, OutputCloser> output(rawOutput);

  const std::string encoderName = !movie.codec.empty() ? movie.codec : HasH264Encoder() ? "libx264" : "mpeg4";
  const AVCodec* encoder = avcodec_find_encoder_by_name(encoderName.c_str());
  if (encoder == nullptr) return Status::IOError("no encoder " + encoderName);
  std::unique_ptr<AVCodecContext, CodecFreer> codec(avcodec_alloc_context3(encoder));
  AVStream* stream = avformat_new_stream(output.get(), nullptr);
  if (!codec || stream == nullptr) return Status::IOError("out of memory");

  codec->width = movie.width;
  codec->height = movie.height;
  codec->pix_fmt = EncoderFormat(*encoder);
  codec->time_base = AVRational{1, movie.fps};
  codec->framerate = AVRational{movie.fps, 1};
  codec->gop_size = movie.gop;
  codec->keyint_min = movie.gop;
  codec->max_b_frames = movie.bFrames;
  if (output->oformat->flags & AVFMT_GLOBALHEADER) codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  SetFastest(*codec, encoderName);
  if ((result = avcodec_open2(codec.get(), encoder, nullptr)) < 0) return Failed("open encoder", result);
  if ((result = avcodec_parameters_from_context(stream->codecpar, codec.get())) < 0) {
    return Failed("parameters", result);
  }
  stream->time_base = codec->time_base;

  if (movie.rotation != 0 || movie.mirrored) {
    auto* matrix = reinterpret_cast<std::int32_t*>(
        av_stream_new_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, 9 * sizeof(std::int32_t)));
    if (matrix == nullptr) return Status::IOError("out of memory");
    av_display_rotation_set(matrix, movie.rotation);
    if (movie.mirrored) av_display_matrix_flip(matrix, 1, 0);
  }
  AudioTrack audio;
  if (!movie.audioCodec.empty()) {
    if (Status opened = OpenAudio(*output, movie, audio); !opened.ok()) return opened;
  }

  if ((result = avio_open(&output->pb, path.c_str(), AVIO_FLAG_WRITE)) < 0) return Failed("create file", result);
  if ((result = avformat_write_header(output.get(), nullptr)) < 0) return Failed("header", result);

  // Frames are painted in 8-bit 4:2:0 and converted for encoders that want another format.
  std::unique_ptr<AVFrame, FrameFreer> painted(av_frame_alloc());
  std::unique_ptr<AVFrame, FrameFreer> converted(av_frame_alloc());
  std::unique_ptr<AVPacket, PacketFreer> packet(av_packet_alloc());
  if (!painted || !converted || !packet) return Status::IOError("out of memory");
  painted->width = converted->width = movie.width;
  painted->height = converted->height = movie.height;
  painted->format = AV_PIX_FMT_YUV420P;
  converted->format = codec->pix_fmt;
  if ((result = av_frame_get_buffer(painted.get(), 0)) < 0) return Failed("frame", result);
  std::unique_ptr<SwsContext, ScalerFreer> converter;
  if (codec->pix_fmt != AV_PIX_FMT_YUV420P) {
    if ((result = av_frame_get_buffer(converted.get(), 0)) < 0) return Failed("frame", result);
    converter.reset(sws_getContext(movie.width, movie.height, AV_PIX_FMT_YUV420P, movie.width, movie.height,
                                   codec->pix_fmt, SWS_POINT, nullptr, nullptr, nullptr));
    if (!converter) return Status::NotSupported("cannot convert frames for " + encoderName);
  }
  AVFrame* frame = converter ? converted.get() : painted.get();

  const auto firstPts = static_cast<std::int64_t>(std::llround(movie.startSeconds * movie.fps));
  const auto frames = static_cast<int>(std::lround(movie.seconds * movie.fps));
  for (int i = 0; i < frames; ++i) {
    if ((result = av_frame_make_writable(frame)) < 0) return Failed("frame", result);
    PaintFrame(*painted, i);
    if (converter) {
      sws_scale(converter.get(), painted->data, painted->linesize, 0, movie.height, converted->data,
                converted->linesize);
    }
    frame->pts = firstPts + i;
    while (audio.open() && audio.startsBy(frame->pts, codec->time_base)) {
      if (Status sent = SendAudioFrame(audio, *output, *packet); !sent.ok()) return sent;
    }
    if ((result = avcodec_send_frame(codec.get(), frame)) < 0) return Failed("encode", result);
    if (Status drained = Drain(*codec, *output, *stream, *packet); !drained.ok()) return drained;
  }
  if ((result = avcodec_send_frame(codec.get(), nullptr)) < 0) return Failed("encode", result);
  if (Status drained = Drain(*codec, *output, *stream, *packet); !drained.ok()) return drained;
  if (audio.open()) {
    while (audio.nextPts < audio.endPts) {
      if (Status sent = SendAudioFrame(audio, *output, *packet); !sent.ok()) return sent;
    }
    if ((result = avcodec_send_frame(audio.codec.get(), nullptr)) < 0) return Failed("encode audio", result);
    if (Status drained = Drain(*audio.codec, *output, *audio.stream, *packet); !drained.ok()) return drained;
  }
  if ((result = av_write_trailer(output.get())) < 0) return Failed("trailer", result);
  return Status::OK();
}

void TruncateFile(const std::filesystem::path& path, std::uintmax_t size) {
  std::filesystem::resize_file(path, size);
}

void OverwriteWithNoise(const std::filesystem::path& path, std::uintmax_t offset, std::uintmax_t length,
                        std::uint32_t seed) {
  std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
  file.seekp(static_cast<std::streamoff>(offset));
  std::mt19937 random(seed);
  for (std::uintmax_t i = 0; i < length; ++i) file.put(static_cast<char>(random() & 0xff));
}

void WriteRandomFile(const std::filesystem::path& path, std::size_t size, std::uint32_t seed) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  std::mt19937 random(seed);
  for (std::size_t i = 0; i < size; ++i) file.put(static_cast<char>(random() & 0xff));
}

}  // namespace testsupport
