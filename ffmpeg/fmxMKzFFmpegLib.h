// Run-time binding of the FFmpeg libraries. The structure layouts are those
// of the FFmpeg headers this library is built with; the functions are looked
// up when the libraries are loaded, so a program without FFmpeg still runs
// and reports FFmpeg unsupported. A loaded FFmpeg whose major versions differ
// from the headers' is refused, never read with a guessed layout.
#pragma once
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavdevice/avdevice.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libavutil/time.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}
#include <atomic>
#include <string>

// The headers' convenience macros call FFmpeg through the link-time symbols;
// the library's own forms below go through the binding instead.
#undef av_err2str
#undef av_ts2str
#undef av_ts2timestr

namespace kz {

// Entry points: library, name, required. Only calls of the FFmpeg line the
// headers belong to are bound; entry points that line removed are not.
#define KZ_FFMPEG_ENTRIES(X)                                  \
  X(avutil, avutil_version, true)                             \
  X(avutil, av_frame_alloc, true)                             \
  X(avutil, av_frame_free, true)                              \
  X(avutil, av_frame_unref, true)                             \
  X(avutil, av_frame_get_buffer, true)                        \
  X(avutil, av_frame_make_writable, true)                     \
  X(avutil, av_dict_set, true)                                \
  X(avutil, av_dict_get, true)                                \
  X(avutil, av_dict_free, true)                               \
  X(avutil, av_dict_copy, true)                               \
  X(avutil, av_strerror, true)                                \
  X(avutil, av_log_set_callback, true)                        \
  X(avutil, av_log, true)                                     \
  X(avutil, av_log_set_level, true)                           \
  X(avutil, av_log_format_line2, true)                        \
  X(avutil, av_gettime, true)                                 \
  X(avutil, av_rescale_q, true)                               \
  X(avutil, av_rescale_rnd, true)                             \
  X(avutil, av_compare_ts, true)                              \
  X(avutil, av_opt_set, true)                                 \
  X(avutil, av_opt_set_int, true)                             \
  X(avutil, av_opt_set_sample_fmt, true)                      \
  X(avutil, av_opt_set_chlayout, true)                        \
  X(avutil, av_opt_get_int, true)                             \
  X(avutil, av_channel_layout_default, true)                  \
  X(avutil, av_channel_layout_copy, true)                     \
  X(avutil, av_channel_layout_uninit, true)                   \
  X(avutil, av_samples_get_buffer_size, true)                 \
  X(avutil, av_samples_alloc, true)                           \
  X(avutil, av_get_bytes_per_sample, true)                    \
  X(avutil, av_sample_fmt_is_planar, true)                    \
  X(avutil, av_get_pix_fmt_name, true)                        \
  X(avutil, av_image_fill_arrays, true)                       \
  X(avutil, av_malloc, true)                                  \
  X(avutil, av_realloc, true)                                 \
  X(avutil, av_free, true)                                    \
  X(avutil, av_freep, true)                                   \
  X(avutil, av_audio_fifo_alloc, true)                        \
  X(avutil, av_audio_fifo_free, true)                         \
  X(avutil, av_audio_fifo_write, true)                        \
  X(avutil, av_audio_fifo_read, true)                         \
  X(avutil, av_audio_fifo_size, true)                         \
  X(avutil, av_get_sample_fmt_name, true)                     \
  X(avutil, av_samples_alloc_array_and_samples, true)         \
  X(avutil, av_samples_set_silence, true)                     \
  X(avcodec, avcodec_version, true)                           \
  X(avcodec, avcodec_find_decoder, true)                      \
  X(avcodec, avcodec_find_decoder_by_name, true)              \
  X(avcodec, avcodec_find_encoder, true)                      \
  X(avcodec, avcodec_find_encoder_by_name, true)              \
  X(avcodec, avcodec_alloc_context3, true)                    \
  X(avcodec, avcodec_free_context, true)                      \
  X(avcodec, avcodec_open2, true)                             \
  X(avcodec, avcodec_is_open, true)                           \
  X(avcodec, avcodec_flush_buffers, true)                     \
  X(avcodec, avcodec_parameters_copy, true)                   \
  X(avcodec, avcodec_parameters_from_context, true)           \
  X(avcodec, avcodec_parameters_to_context, true)             \
  X(avcodec, avcodec_send_packet, true)                       \
  X(avcodec, avcodec_receive_frame, true)                     \
  X(avcodec, avcodec_send_frame, true)                        \
  X(avcodec, avcodec_receive_packet, true)                    \
  X(avcodec, avcodec_get_type, true)                          \
  X(avcodec, avcodec_get_name, true)                          \
  X(avcodec, avcodec_descriptor_get, true)                    \
  X(avcodec, av_codec_iterate, true)                          \
  X(avcodec, av_codec_is_encoder, true)                       \
  X(avcodec, av_codec_is_decoder, true)                       \
  X(avcodec, av_packet_alloc, true)                           \
  X(avcodec, av_packet_free, true)                            \
  X(avcodec, av_packet_unref, true)                           \
  X(avcodec, av_packet_clone, true)                           \
  X(avcodec, av_packet_rescale_ts, true)                      \
  X(avformat, avformat_version, true)                         \
  X(avformat, avformat_network_init, true)                    \
  X(avformat, avformat_network_deinit, true)                  \
  X(avformat, avformat_alloc_context, true)                   \
  X(avformat, avformat_free_context, true)                    \
  X(avformat, avformat_open_input, true)                      \
  X(avformat, avformat_close_input, true)                     \
  X(avformat, avformat_find_stream_info, true)                \
  X(avformat, av_find_best_stream, true)                      \
  X(avformat, av_find_input_format, true)                     \
  X(avformat, av_read_frame, true)                            \
  X(avformat, av_seek_frame, true)                            \
  X(avformat, av_guess_format, true)                          \
  X(avformat, av_guess_codec, true)                           \
  X(avformat, av_muxer_iterate, true)                         \
  X(avformat, avformat_alloc_output_context2, true)           \
  X(avformat, avformat_new_stream, true)                      \
  X(avformat, avformat_write_header, true)                    \
  X(avformat, av_interleaved_write_frame, true)               \
  X(avformat, av_write_frame, true)                           \
  X(avformat, av_write_trailer, true)                         \
  X(avformat, av_dump_format, true)                           \
  X(avformat, avio_open2, true)                               \
  X(avformat, avio_closep, true)                              \
  X(avformat, avio_flush, true)                               \
  X(swscale, swscale_version, true)                           \
  X(swscale, sws_getContext, true)                            \
  X(swscale, sws_getCachedContext, true)                      \
  X(swscale, sws_freeContext, true)                           \
  X(swscale, sws_scale, true)                                 \
  X(swresample, swresample_version, false)                    \
  X(swresample, swr_alloc_set_opts2, false)                   \
  X(swresample, swr_init, false)                              \
  X(swresample, swr_is_initialized, false)                    \
  X(swresample, swr_free, false)                              \
  X(swresample, swr_convert, false)                           \
  X(swresample, swr_get_out_samples, false)                   \
  X(swresample, swr_get_delay, false)                         \
  X(avdevice, avdevice_version, false)                        \
  X(avdevice, avdevice_register_all, false)                   \
  X(avdevice, av_input_video_device_next, false)              \
  X(avdevice, av_input_audio_device_next, false)

// One pointer per entry point, typed by the headers' declaration.
struct TKzFFmpegApi {
#define KZ_FFMPEG_POINTER(Lib, Name, Required) decltype(&::Name) Name = nullptr;
  KZ_FFMPEG_ENTRIES(KZ_FFMPEG_POINTER)
#undef KZ_FFMPEG_POINTER
};

// The bound entry points. Valid while the libraries are loaded (nullptr
// members otherwise); read from any thread once loaded.
extern TKzFFmpegApi kzFF;
// The API generation of the loaded FFmpeg (avformat 59 → 4), −1 when none.
extern std::atomic<int> kzFFMPEG;

// Loads the libraries from Folder (absolute path; empty: by their sonames),
// unloading anything loaded before, binds every entry point and picks the
// generation. False with LastFFmpegBindError() set when any step fails; the
// folder is remembered either way for IsSupportedFFmpeg. Main thread, never
// while anything plays; blocks on the loader.
bool LoadFFMpegLibraries(const std::string& Folder);
// Whether FFmpeg can be used: loads once with the remembered folder when no
// load was tried yet, then registers. Any thread; may block on the loader.
bool IsSupportedFFmpeg();
// One-time set-up of the loaded libraries (network, devices, log callback).
// Any thread, never blocks long.
void RegisterFFMPEG();
void UnregisterFFMPEG();
// The low-level halves: bind from Folder / unload everything.
bool libFFMPEG_dynamic_dll_init(const std::string& Folder);
void libFFMPEG_dynamic_dll_done();

// The text of the last binding failure ("" after a successful load).
std::string LastFFmpegBindError();
// The avformat major version found by the last load (0 when none).
int FFmpegFormatMajor();
// The generation for an avformat major version (up to 57 → 2 … 61 and later → 6).
int FFmpegGenerationOf(int FormatMajor);

// Where FFmpeg's log lines go, warnings and worse, with their credentials
// taken out (KzRedactCredentials); default: nowhere.
// Set before playing. Called on FFmpeg's threads.
void SetFFmpegLogSink(void (*Sink)(int Level, const std::string& Line));

// The library's forms of FFmpeg's inline helpers.
inline double av_q2d(AVRational a) { return a.num / static_cast<double>(a.den); }
inline AVRational av_make_q(int num, int den) { return AVRational{num, den}; }
// "NOPTS" for the no-timestamp value, else the decimal value.
std::string av_ts2str(int64_t ts);
// "NOPTS", else the time in seconds ("%.6g") in the time base tb.
std::string av_ts2timestr(int64_t ts, const AVRational* tb);
// FFmpeg's text for an error code (through av_strerror, 64-character buffer).
std::string av_err2str(int errnum);

}  // namespace kz
