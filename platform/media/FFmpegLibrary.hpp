// FFmpegLibrary: FFmpeg's libraries, opened with dlopen on the first media operation of the
// process rather than when the platform library loads. FFmpeg brings in well over a hundred
// shared libraries of its own (codecs, image formats, hardware back ends), some with costly
// static initialisers, so a host that only talks to the backend would otherwise pay for
// media it never touches.
//
// Every FFmpeg function the media layer calls is listed in PINDLE_FFMPEG_FUNCTIONS and
// reached through a pointer resolved once; this header then redefines each name as a macro
// naming that pointer, so code that includes it (through FFmpegSupport.hpp) calls FFmpeg as
// usual. A call to an FFmpeg function missing from the list fails to link, because the
// platform library links with --no-undefined and not with FFmpeg.
//
// Nothing outside platform/media (and its tests) includes this header, and FFmpeg's own
// headers are included only here.
//
// Thread-safety: loading happens once, under the C++ runtime's static-initialisation lock;
// afterwards the table is read-only. No callbacks.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/dict.h>
#include <libavutil/display.h>
#include <libavutil/frame.h>
#include <libavutil/imgutils.h>
#include <libavutil/mem.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <string>
#include <vector>

#include "platform/foundation/Error.hpp"

// X(library, function) for every FFmpeg function the media layer calls; `library` is the
// one that exports it.
#define PINDLE_FFMPEG_FUNCTIONS(X)                \
    X(avutil, av_audio_fifo_alloc)                \
    X(avutil, av_audio_fifo_free)                 \
    X(avutil, av_audio_fifo_read)                 \
    X(avutil, av_audio_fifo_size)                 \
    X(avutil, av_audio_fifo_write)                \
    X(avutil, av_channel_layout_compare)          \
    X(avutil, av_channel_layout_copy)             \
    X(avutil, av_channel_layout_default)          \
    X(avutil, av_channel_layout_uninit)           \
    X(avutil, av_d2q)                             \
    X(avutil, av_dict_copy)                       \
    X(avutil, av_dict_free)                       \
    X(avutil, av_dict_get)                        \
    X(avutil, av_dict_set)                        \
    X(avutil, av_display_rotation_get)            \
    X(avutil, av_display_rotation_set)            \
    X(avutil, av_frame_alloc)                     \
    X(avutil, av_frame_clone)                     \
    X(avutil, av_frame_free)                      \
    X(avutil, av_frame_get_buffer)                \
    X(avutil, av_frame_make_writable)             \
    X(avutil, av_frame_move_ref)                  \
    X(avutil, av_frame_ref)                       \
    X(avutil, av_frame_unref)                     \
    X(avutil, av_image_copy)                      \
    X(avutil, av_free)                            \
    X(avutil, av_freep)                           \
    X(avutil, av_log_set_level)                   \
    X(avutil, av_malloc)                          \
    X(avutil, av_pix_fmt_desc_get)                \
    X(avutil, av_rescale_q)                       \
    X(avutil, av_strerror)                        \
    X(avcodec, av_grow_packet)                    \
    X(avcodec, av_packet_alloc)                   \
    X(avcodec, av_packet_free)                    \
    X(avcodec, av_packet_rescale_ts)              \
    X(avcodec, av_packet_unref)                   \
    X(avcodec, avcodec_alloc_context3)            \
    X(avcodec, avcodec_find_decoder)              \
    X(avcodec, avcodec_find_encoder)              \
    X(avcodec, avcodec_find_encoder_by_name)      \
    X(avcodec, avcodec_flush_buffers)             \
    X(avcodec, avcodec_free_context)              \
    X(avcodec, avcodec_get_name)                  \
    X(avcodec, avcodec_open2)                     \
    X(avcodec, avcodec_parameters_copy)           \
    X(avcodec, avcodec_parameters_from_context)   \
    X(avcodec, avcodec_parameters_to_context)     \
    X(avcodec, avcodec_receive_frame)             \
    X(avcodec, avcodec_receive_packet)            \
    X(avcodec, avcodec_send_frame)                \
    X(avcodec, avcodec_send_packet)               \
    X(avformat, av_find_best_stream)              \
    X(avformat, av_find_input_format)             \
    X(avformat, av_interleaved_write_frame)       \
    X(avformat, av_read_frame)                    \
    X(avformat, av_seek_frame)                    \
    X(avformat, av_stream_get_side_data)          \
    X(avformat, av_stream_new_side_data)          \
    X(avformat, av_write_trailer)                 \
    X(avformat, avformat_alloc_context)           \
    X(avformat, avformat_alloc_output_context2)   \
    X(avformat, avformat_close_input)             \
    X(avformat, avformat_find_stream_info)        \
    X(avformat, avformat_free_context)            \
    X(avformat, avformat_index_get_entries_count) \
    X(avformat, avformat_index_get_entry)         \
    X(avformat, avformat_new_stream)              \
    X(avformat, avformat_open_input)              \
    X(avformat, avformat_write_header)            \
    X(avformat, avio_alloc_context)               \
    X(avformat, avio_closep)                      \
    X(avformat, avio_context_free)                \
    X(avformat, avio_open)                        \
    X(swresample, swr_alloc_set_opts2)            \
    X(swresample, swr_convert)                    \
    X(swresample, swr_free)                       \
    X(swresample, swr_get_out_samples)            \
    X(swresample, swr_init)                       \
    X(swscale, sws_freeContext)                   \
    X(swscale, sws_getCachedContext)              \
    X(swscale, sws_getContext)                    \
    X(swscale, sws_scale)

namespace pindle::platform::ffmpeg {

class FFmpegLibrary {
  public:
    // The loaded table, loading it on the first call; null when a library or a function is
    // missing, with `error` (when given) a MediaError naming what could not be loaded.
    static const FFmpegLibrary* load(Error* error = nullptr);

    // The loaded table. A process that reaches FFmpeg after load() failed stops here with
    // a message naming the missing library: the media layer checks load() at its entry
    // points, so this is a programming error.
    static const FFmpegLibrary& shared();

    // The file names dlopen is asked for, in load order (the major versions are those of
    // the headers the platform was built with).
    static std::vector<std::string> libraryNames();

    // Replaces the file names asked for, so a test can see how a missing library is
    // reported. REQUIRES: nothing has called load() or shared() in this process yet.
    static void setLibraryNamesForTesting(std::vector<std::string> names);

    FFmpegLibrary(const FFmpegLibrary&) = delete;
    FFmpegLibrary& operator=(const FFmpegLibrary&) = delete;

#define PINDLE_FFMPEG_MEMBER(library, function) decltype(&::function) function = nullptr;
    PINDLE_FFMPEG_FUNCTIONS(PINDLE_FFMPEG_MEMBER)
#undef PINDLE_FFMPEG_MEMBER

  private:
    FFmpegLibrary() = default;
};

}  // namespace pindle::platform::ffmpeg

#ifndef PINDLE_FFMPEG_NO_REDIRECT
#define PINDLE_FFMPEG(function) (::pindle::platform::ffmpeg::FFmpegLibrary::shared().function)
#define av_audio_fifo_alloc PINDLE_FFMPEG(av_audio_fifo_alloc)
#define av_audio_fifo_free PINDLE_FFMPEG(av_audio_fifo_free)
#define av_audio_fifo_read PINDLE_FFMPEG(av_audio_fifo_read)
#define av_audio_fifo_size PINDLE_FFMPEG(av_audio_fifo_size)
#define av_audio_fifo_write PINDLE_FFMPEG(av_audio_fifo_write)
#define av_channel_layout_compare PINDLE_FFMPEG(av_channel_layout_compare)
#define av_channel_layout_copy PINDLE_FFMPEG(av_channel_layout_copy)
#define av_channel_layout_default PINDLE_FFMPEG(av_channel_layout_default)
#define av_channel_layout_uninit PINDLE_FFMPEG(av_channel_layout_uninit)
#define av_d2q PINDLE_FFMPEG(av_d2q)
#define av_dict_copy PINDLE_FFMPEG(av_dict_copy)
#define av_dict_free PINDLE_FFMPEG(av_dict_free)
#define av_dict_get PINDLE_FFMPEG(av_dict_get)
#define av_dict_set PINDLE_FFMPEG(av_dict_set)
#define av_display_rotation_get PINDLE_FFMPEG(av_display_rotation_get)
#define av_display_rotation_set PINDLE_FFMPEG(av_display_rotation_set)
#define av_frame_alloc PINDLE_FFMPEG(av_frame_alloc)
#define av_frame_clone PINDLE_FFMPEG(av_frame_clone)
#define av_frame_free PINDLE_FFMPEG(av_frame_free)
#define av_frame_get_buffer PINDLE_FFMPEG(av_frame_get_buffer)
#define av_frame_make_writable PINDLE_FFMPEG(av_frame_make_writable)
#define av_frame_move_ref PINDLE_FFMPEG(av_frame_move_ref)
#define av_frame_ref PINDLE_FFMPEG(av_frame_ref)
#define av_frame_unref PINDLE_FFMPEG(av_frame_unref)
#define av_image_copy PINDLE_FFMPEG(av_image_copy)
#define av_free PINDLE_FFMPEG(av_free)
#define av_freep PINDLE_FFMPEG(av_freep)
#define av_log_set_level PINDLE_FFMPEG(av_log_set_level)
#define av_malloc PINDLE_FFMPEG(av_malloc)
#define av_pix_fmt_desc_get PINDLE_FFMPEG(av_pix_fmt_desc_get)
#define av_rescale_q PINDLE_FFMPEG(av_rescale_q)
#define av_strerror PINDLE_FFMPEG(av_strerror)
#define av_grow_packet PINDLE_FFMPEG(av_grow_packet)
#define av_packet_alloc PINDLE_FFMPEG(av_packet_alloc)
#define av_packet_free PINDLE_FFMPEG(av_packet_free)
#define av_packet_rescale_ts PINDLE_FFMPEG(av_packet_rescale_ts)
#define av_packet_unref PINDLE_FFMPEG(av_packet_unref)
#define avcodec_alloc_context3 PINDLE_FFMPEG(avcodec_alloc_context3)
#define avcodec_find_decoder PINDLE_FFMPEG(avcodec_find_decoder)
#define avcodec_find_encoder PINDLE_FFMPEG(avcodec_find_encoder)
#define avcodec_find_encoder_by_name PINDLE_FFMPEG(avcodec_find_encoder_by_name)
#define avcodec_flush_buffers PINDLE_FFMPEG(avcodec_flush_buffers)
#define avcodec_free_context PINDLE_FFMPEG(avcodec_free_context)
#define avcodec_get_name PINDLE_FFMPEG(avcodec_get_name)
#define avcodec_open2 PINDLE_FFMPEG(avcodec_open2)
#define avcodec_parameters_copy PINDLE_FFMPEG(avcodec_parameters_copy)
#define avcodec_parameters_from_context PINDLE_FFMPEG(avcodec_parameters_from_context)
#define avcodec_parameters_to_context PINDLE_FFMPEG(avcodec_parameters_to_context)
#define avcodec_receive_frame PINDLE_FFMPEG(avcodec_receive_frame)
#define avcodec_receive_packet PINDLE_FFMPEG(avcodec_receive_packet)
#define avcodec_send_frame PINDLE_FFMPEG(avcodec_send_frame)
#define avcodec_send_packet PINDLE_FFMPEG(avcodec_send_packet)
#define av_find_best_stream PINDLE_FFMPEG(av_find_best_stream)
#define av_find_input_format PINDLE_FFMPEG(av_find_input_format)
#define av_interleaved_write_frame PINDLE_FFMPEG(av_interleaved_write_frame)
#define av_read_frame PINDLE_FFMPEG(av_read_frame)
#define av_seek_frame PINDLE_FFMPEG(av_seek_frame)
#define av_stream_get_side_data PINDLE_FFMPEG(av_stream_get_side_data)
#define av_stream_new_side_data PINDLE_FFMPEG(av_stream_new_side_data)
#define av_write_trailer PINDLE_FFMPEG(av_write_trailer)
#define avformat_alloc_context PINDLE_FFMPEG(avformat_alloc_context)
#define avformat_alloc_output_context2 PINDLE_FFMPEG(avformat_alloc_output_context2)
#define avformat_close_input PINDLE_FFMPEG(avformat_close_input)
#define avformat_find_stream_info PINDLE_FFMPEG(avformat_find_stream_info)
#define avformat_free_context PINDLE_FFMPEG(avformat_free_context)
#define avformat_index_get_entries_count PINDLE_FFMPEG(avformat_index_get_entries_count)
#define avformat_index_get_entry PINDLE_FFMPEG(avformat_index_get_entry)
#define avformat_new_stream PINDLE_FFMPEG(avformat_new_stream)
#define avformat_open_input PINDLE_FFMPEG(avformat_open_input)
#define avformat_write_header PINDLE_FFMPEG(avformat_write_header)
#define avio_alloc_context PINDLE_FFMPEG(avio_alloc_context)
#define avio_closep PINDLE_FFMPEG(avio_closep)
#define avio_context_free PINDLE_FFMPEG(avio_context_free)
#define avio_open PINDLE_FFMPEG(avio_open)
#define swr_alloc_set_opts2 PINDLE_FFMPEG(swr_alloc_set_opts2)
#define swr_convert PINDLE_FFMPEG(swr_convert)
#define swr_free PINDLE_FFMPEG(swr_free)
#define swr_get_out_samples PINDLE_FFMPEG(swr_get_out_samples)
#define swr_init PINDLE_FFMPEG(swr_init)
#define sws_freeContext PINDLE_FFMPEG(sws_freeContext)
#define sws_getCachedContext PINDLE_FFMPEG(sws_getCachedContext)
#define sws_getContext PINDLE_FFMPEG(sws_getContext)
#define sws_scale PINDLE_FFMPEG(sws_scale)
#endif
