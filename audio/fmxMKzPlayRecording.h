// Recording what a player plays: one source (the first GUID and audio index
// played after recording starts). WAV (kzacWAV) is written by the library's
// own writer, 8 or 16-bit at the block's own rate and channels; any other
// codec goes through FFmpeg's encoding half at the encoder's rate, channels
// and bit rate, into the container the file name's extension chooses.
#pragma once
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "audio/Fmxmkzwavefuncs.h"
#include "ffmpeg/fmxMKzFFmpegLists.h"
#include "foundation/Fmxmkzguidfuncs.h"

namespace kz {

class TKzMFFMPEG;

struct TKzPlayRecordSettings {
  std::string FileName;
  bool UseFFMpeg = true;
  TKzAudioCodec Codec = TKzAudioCodec::kzacWAV;
  TKzSampleFormat SampleFormat = TKzSampleFormat::kzsf8;
  // The FFmpeg branch's encoder: a name overrides Codec.
  std::string CodecName;
  int32_t Bitrate = 64000;
  int32_t SampleRate = 8000;
  int32_t Channels = 1;
};

class TKzPlayRecording {
public:
  // A text for the debug message: why the recording ended early (Ended), or
  // that other sources are left out, or what the encoder took instead of
  // what was asked (once each).
  using TNoteEvent = std::function<void(const std::string& Text, bool Ended)>;

  // Raises EKzMediaError for a WAV format it cannot write; false (with Why)
  // for a recording that cannot start otherwise. The caller's thread.
  static bool Check(const TKzPlayRecordSettings& Settings, std::string& Why);

  TKzPlayRecording(const TKzPlayRecordSettings& Settings, TNoteEvent OnEnd);
  ~TKzPlayRecording();
  // One played block. Blocks of other sources than the first are left out.
  // False once the recording has ended on an error. Any thread;
  // serialised inside.
  bool Add(const TGUID& GUID, uint16_t AudioIndex, const uint8_t* Data, int32_t Size, const TKzAudioInfo& Format);
  // Completes the file (the encoder's remainder padded where it needs whole
  // frames, then the trailer). Any thread.
  void Close();
  // Bytes of samples written so far (WAV).
  int64_t DataSize() const;

private:
  static bool UsesFFmpeg(const TKzPlayRecordSettings& Settings);
  // The file for the first block's format; false with Why.
  bool OpenLocked(const TKzAudioInfo& Format, std::string& Why);
  bool WriteWavLocked(const uint8_t* Data, int32_t Size, const TKzAudioInfo& Format, std::string& Why);
  bool EncodeLocked(const uint8_t* Data, int32_t Size, std::string& Why);
  void CloseLocked();
  void Fail(const std::string& Why);
  const TKzPlayRecordSettings FSettings;
  TNoteEvent FOnNote;
  mutable std::mutex FLock;  // guards everything below
  std::unique_ptr<TKzWaveWriter> FWriter;
  std::unique_ptr<TKzMFFMPEG> FEncoder;
  std::vector<uint8_t> FPending;  // incoming PCM not yet taken by the encoder
  size_t FPendingAt = 0;          // where the untaken part begins
  int32_t FFrameBytes = 1;        // bytes of one incoming sample frame
  std::string FEncodeError;       // the encoder's first error during a call
  std::vector<std::string> FNotices;
  bool FHaveSource = false;
  bool FFailed = false;
  bool FSkipped = false;
  TGUID FGUID;
  uint16_t FAudioIndex = 0;
  TKzAudioInfo FFormat;
  std::vector<uint8_t> FConverted;
};

}  // namespace kz
