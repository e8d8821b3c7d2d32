// What the loaded FFmpeg can do, as lists for settings editors and the
// recorder: encoders of the library's codec choices, file formats, sample
// formats and rates, every decoder and encoder, capture-device formats.
// Each function empties its list first and fills it only when FFmpeg is
// supported. Any thread.
#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace kz {

enum class TKzVideoCodec : uint8_t {
  kzvcDefault, kzvcMPEG1, kzvcMPEG2, kzvcMPEG4, kzvcH263P, kzvcH264, kzvcMJPEG,
  kzvcWMV1, kzvcWMV2, kzvcFLV1, kzvcRealVideo1, kzvcRealVideo2, kzvcHEVC,
};
enum class TKzAudioCodec : uint8_t {
  kzacDefault, kzacWAV, kzacMP2, kzacMP3, kzacAC3, kzacVorbis, kzacFLAC, kzacOpus, kzacWMAv1,
  kzacWMAv2, kzacAAC, kzacRA1, kzacG723_1, kzacSpeex, kzacWavPack, kzacALAC, kzacAMR,
};
enum class TKzSampleFormat : uint8_t { kzsf8, kzsf16, kzsf32, kzsfFloat, kzsfDouble };

// A text with its attached number (an enumeration ordinal, or a sample rate).
using TKzFFmpegList = std::vector<std::pair<std::string, int64_t>>;

// FFmpeg's codec ID for a choice (0: none; WAV follows the sample format).
int KzFFmpegVideoCodecID(TKzVideoCodec Codec);
int KzFFmpegAudioCodecID(TKzAudioCodec Codec, TKzSampleFormat Format = TKzSampleFormat::kzsf16);
// FFmpeg's sample format for a choice, packed or planar.
int KzFFmpegSampleFormat(TKzSampleFormat Format, bool Planar);

void GetListOfAvailableFFmpegVideoCodecs(TKzFFmpegList& List, const std::string& FirstItem, bool WithExtensions);
void GetListOfAvailableFFmpegAudioCodecs(TKzFFmpegList& List, const std::string& FirstItem);
void GetListOfAvailableFFmpegFileFormats(TKzFFmpegList& List);
void GetListOfAvailableSampleFormats(TKzAudioCodec Codec, TKzFFmpegList& List);
void GetListOfAvailableSampleRates(TKzAudioCodec Codec, TKzSampleFormat Format, TKzFFmpegList& List);
// Names (and, when given, long names) of every decoder or encoder of a kind;
// false when the walk cannot run.
bool GetListOfVideoDecoders(std::vector<std::string>& Names, std::vector<std::string>* LongNames = nullptr);
bool GetListOfAudioDecoders(std::vector<std::string>& Names, std::vector<std::string>* LongNames = nullptr);
bool GetListOfVideoEncoders(std::vector<std::string>& Names, std::vector<std::string>* LongNames = nullptr);
bool GetListOfAudioEncoders(std::vector<std::string>& Names, std::vector<std::string>* LongNames = nullptr);
// Capture-device input formats; false without the device library.
bool GetListOfVideoInputFormats(std::vector<std::string>* Names, std::vector<std::string>* LongNames);
bool GetListOfAudioInputFormats(std::vector<std::string>* Names, std::vector<std::string>* LongNames);

}  // namespace kz
