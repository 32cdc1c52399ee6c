#include "platform/linux/movies/ffmpeg_handles.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

namespace platform::linux_platform {

void FormatContextCloser::operator()(AVFormatContext* context) const { avformat_close_input(&context); }
void CodecContextFreer::operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
void PacketFreer::operator()(AVPacket* packet) const { av_packet_free(&packet); }
void FrameFreer::operator()(AVFrame* frame) const { av_frame_free(&frame); }
void SwsContextFreer::operator()(SwsContext* context) const { sws_freeContext(context); }

}  // namespace platform::linux_platform
