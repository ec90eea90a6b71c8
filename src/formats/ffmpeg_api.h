#pragma once
// FFmpeg, loaded on first use. Linking it directly pulls in well over a
// hundred libraries whose loading costs every run of the program tens of
// milliseconds, while only AVI import and export need it. The AVI code calls
// FFmpeg through the pointers declared here once `load` has succeeded.

#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

namespace fb::ff {

#define FB_FFMPEG_FUNCTIONS(X)         \
  X(av_codec_get_id)                   \
  X(av_codec_get_tag2)                 \
  X(av_codec_is_encoder)               \
  X(av_codec_iterate)                  \
  X(av_dict_free)                      \
  X(av_dict_set)                       \
  X(av_find_input_format)              \
  X(av_frame_alloc)                    \
  X(av_frame_free)                     \
  X(av_frame_get_buffer)               \
  X(av_frame_make_writable)            \
  X(av_frame_unref)                    \
  X(av_get_bits_per_sample)            \
  X(av_get_packed_sample_fmt)          \
  X(av_log_set_level)                  \
  X(av_opt_set_int)                    \
  X(av_packet_alloc)                   \
  X(av_packet_free)                    \
  X(av_packet_unref)                   \
  X(av_read_frame)                     \
  X(av_reduce)                         \
  X(av_sample_fmt_is_planar)           \
  X(av_seek_frame)                     \
  X(avcodec_alloc_context3)            \
  X(avcodec_find_best_pix_fmt_of_list) \
  X(avcodec_find_decoder)              \
  X(avcodec_find_encoder)              \
  X(avcodec_flush_buffers)             \
  X(avcodec_free_context)              \
  X(avcodec_open2)                     \
  X(avcodec_parameters_to_context)     \
  X(avcodec_receive_frame)             \
  X(avcodec_receive_packet)            \
  X(avcodec_send_frame)                \
  X(avcodec_send_packet)               \
  X(avformat_close_input)              \
  X(avformat_find_stream_info)         \
  X(avformat_get_riff_audio_tags)      \
  X(avformat_get_riff_video_tags)      \
  X(avformat_open_input)               \
  X(sws_freeContext)                   \
  X(sws_getCachedContext)              \
  X(sws_scale)

#define FB_FFMPEG_DECLARE(name) extern decltype(&::name) name;
FB_FFMPEG_FUNCTIONS(FB_FFMPEG_DECLARE)
#undef FB_FFMPEG_DECLARE

// Loads the libraries and resolves every function, once per process; safe
// from any thread. False when a library or a function is missing; `error`
// then names what.
bool load();
const std::string& loadError();

}  // namespace fb::ff
