// Recording what a player plays: one source (the first GUID and audio index
// played after recording starts), written as WAV by the library's own
// writer, 8 or 16-bit at the block's own rate and channels. Encoding to
// compressed formats through FFmpeg is not available in this build: such a
// recording reports that and does not start.
#pragma once
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "audio/Fmxmkzwavefuncs.h"
#include "ffmpeg/fmxMKzFFmpegLists.h"
#include "foundation/Fmxmkzguidfuncs.h"

namespace kz {

struct TKzPlayRecordSettings {
  std::string FileName;
  bool UseFFMpeg = true;
  TKzAudioCodec Codec = TKzAudioCodec::kzacWAV;
  TKzSampleFormat SampleFormat = TKzSampleFormat::kzsf8;
};

class TKzPlayRecording {
public:
  // A text for the debug message: why the recording ended early (Ended), or
  // that other sources are left out (once).
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
  // Completes the file. Any thread.
  void Close();
  // Bytes of samples written so far.
  int64_t DataSize() const;

private:
  void Fail(const std::string& Why);
  const TKzPlayRecordSettings FSettings;
  TNoteEvent FOnNote;
  mutable std::mutex FLock;  // guards everything below
  std::unique_ptr<TKzWaveWriter> FWriter;
  bool FHaveSource = false;
  bool FFailed = false;
  bool FSkipped = false;
  TGUID FGUID;
  uint16_t FAudioIndex = 0;
  TKzAudioInfo FFormat;
  std::vector<uint8_t> FConverted;
};

}  // namespace kz
