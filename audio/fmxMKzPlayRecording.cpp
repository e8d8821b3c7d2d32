#include "audio/fmxMKzPlayRecording.h"

#include <algorithm>
#include <cstring>

#include "ffmpeg/fmxMKzFFmpeg.h"
#include "ffmpeg/fmxMKzFFmpegLib.h"
#include "foundation/fmxMKzErrors.h"

namespace kz {

namespace {
int32_t RecordBits(TKzSampleFormat Format) { return Format == TKzSampleFormat::kzsf8 ? 8 : 16; }
}  // namespace

bool TKzPlayRecording::UsesFFmpeg(const TKzPlayRecordSettings& Settings) {
  return !Settings.CodecName.empty() || Settings.Codec != TKzAudioCodec::kzacWAV;
}

bool TKzPlayRecording::Check(const TKzPlayRecordSettings& Settings, std::string& Why) {
  if (UsesFFmpeg(Settings)) {
    if (!Settings.UseFFMpeg) {
      Why = "Only WAV can be recorded without FFmpeg (UseFFMpeg is off)";
      return false;
    }
    if (!IsSupportedFFmpeg()) {
      Why = "FFmpeg is not available: " + LastFFmpegBindError();
      return false;
    }
  } else if (Settings.SampleFormat != TKzSampleFormat::kzsf8 && Settings.SampleFormat != TKzSampleFormat::kzsf16) {
    throw EKzMediaError("Invalid WAV format: samples must be 8 or 16 bits");
  }
  if (Settings.FileName.empty()) {
    Why = "No output file name";
    return false;
  }
  return true;
}

TKzPlayRecording::TKzPlayRecording(const TKzPlayRecordSettings& Settings, TNoteEvent OnEnd)
    : FSettings(Settings), FOnNote(std::move(OnEnd)) {}

TKzPlayRecording::~TKzPlayRecording() { Close(); }

bool TKzPlayRecording::OpenLocked(const TKzAudioInfo& Format, std::string& Why) {
  if (!UsesFFmpeg(FSettings)) {
    try {
      FWriter = std::make_unique<TKzWaveWriter>(FSettings.FileName, Format.Channels, Format.SamplesPerSec,
                                                RecordBits(FSettings.SampleFormat));
    } catch (const EKzMediaError& e) {
      Why = e.what();
      return false;
    }
    return true;
  }
  FEncoder = std::make_unique<TKzMFFMPEG>(this);
  TKzFFmpegEncodeSettings& s = FEncoder->EncodeSettings;
  s.UseVideo = false;
  s.UseAudio = true;
  s.AudioCodecID = FSettings.CodecName.empty() ? KzFFmpegAudioCodecID(FSettings.Codec, FSettings.SampleFormat) : 0;
  s.AudioCodecName = FSettings.CodecName;
  s.AudioSampleFormat = FSettings.SampleFormat;
  s.AudioBitrate = FSettings.Bitrate;
  s.AudioSampleRate = FSettings.SampleRate;
  s.AudioChannels = FSettings.Channels;
  s.InAudio = Format;
  FFrameBytes = std::max(1, KzBitsToInt(Format.BitsPerSample) / 8 * Format.Channels);
  // Called inside the encoder's calls, under FLock: kept for after them.
  FEncoder->OnError = [this](void*, int32_t, const std::string& Text) {
    if (FEncodeError.empty()) FEncodeError = Text;
  };
  FEncoder->OnEncodeNotice = [this](void*, const std::string& Text) { FNotices.push_back(Text); };
  FEncoder->OnNextAudioFragment = [this](uint8_t* Buffer, int32_t& Samples, bool Flush) {
    const size_t have = FPending.size() - FPendingAt;
    size_t take = size_t(Samples) * size_t(FFrameBytes);
    if (take > size_t(FEncoder->AudioFragmentCapacity())) take = 0;
    if (have < take) take = Flush ? have / size_t(FFrameBytes) * size_t(FFrameBytes) : 0;
    if (take) std::memcpy(Buffer, FPending.data() + FPendingAt, take);
    FPendingAt += take;
    Samples = int32_t(take / size_t(FFrameBytes));
  };
  if (FEncoder->VideoEncodeFile(FSettings.FileName)) return true;
  Why = FEncodeError.empty() ? "Cannot record to " + FSettings.FileName : FEncodeError;
  FEncoder.reset();
  return false;
}

bool TKzPlayRecording::EncodeLocked(const uint8_t* Data, int32_t Size, std::string& Why) {
  if (FPendingAt > 0 && FPendingAt * 2 >= FPending.size()) {
    FPending.erase(FPending.begin(), FPending.begin() + std::ptrdiff_t(FPendingAt));
    FPendingAt = 0;
  }
  FPending.insert(FPending.end(), Data, Data + Size);
  const bool ok = FEncoder->EncodeAvailableAudio();
  if (ok && FEncodeError.empty()) return true;
  Why = FEncodeError.empty() ? "Cannot write " + FSettings.FileName : FEncodeError;
  return false;
}

bool TKzPlayRecording::WriteWavLocked(const uint8_t* Data, int32_t Size, const TKzAudioInfo& Format,
                                      std::string& Why) {
  const int32_t inBits = KzBitsToInt(Format.BitsPerSample), outBits = RecordBits(FSettings.SampleFormat);
  const uint8_t* out = Data;
  int64_t outSize = Size;
  if (inBits != outBits) {
    // 8-bit samples are unsigned, 16-bit ones signed little-endian.
    const int32_t samples = Size / (inBits / 8);
    FConverted.resize(size_t(samples) * (outBits / 8));
    for (int32_t i = 0; i < samples; ++i) {
      if (inBits == 8) {
        const int16_t v = int16_t((int32_t(Data[i]) - 128) * 256);
        FConverted[2 * i] = uint8_t(v & 0xFF);
        FConverted[2 * i + 1] = uint8_t(uint16_t(v) >> 8);
      } else {
        const int16_t v = int16_t(Data[2 * i] | (Data[2 * i + 1] << 8));
        FConverted[i] = uint8_t((v >> 8) + 128);
      }
    }
    out = FConverted.data();
    outSize = int64_t(FConverted.size());
  }
  if (FWriter->Write(out, outSize)) return true;
  Why = "Cannot write " + FSettings.FileName;
  return false;
}

bool TKzPlayRecording::Add(const TGUID& GUID, uint16_t AudioIndex, const uint8_t* Data, int32_t Size,
                           const TKzAudioInfo& Format) {
  std::unique_lock<std::mutex> lk(FLock);
  if (FFailed) return false;
  std::string why;
  bool ok = true, skipped = false;
  if (!FHaveSource) {
    FHaveSource = true;
    FGUID = GUID;
    FAudioIndex = AudioIndex;
    FFormat = Format;
    ok = OpenLocked(Format, why);
  }
  if (ok && (!(GUID == FGUID) || AudioIndex != FAudioIndex || !(Format == FFormat))) {
    skipped = !FSkipped;
    FSkipped = true;
  } else if (ok && FEncoder) {
    ok = EncodeLocked(Data, Size, why);
  } else if (ok && FWriter) {
    ok = WriteWavLocked(Data, Size, Format, why);
  }
  const std::vector<std::string> notices = std::exchange(FNotices, {});
  lk.unlock();
  if (FOnNote) {
    for (const std::string& n : notices) FOnNote(n, false);
    if (skipped) FOnNote("Recording follows one source; others are left out", false);
  }
  if (!ok) Fail(why);
  return ok;
}

void TKzPlayRecording::CloseLocked() {
  if (FEncoder) {
    FEncoder->VideoEncodeDeinit();
    FEncoder.reset();
  }
  if (FWriter) FWriter->Close();
}

void TKzPlayRecording::Fail(const std::string& Why) {
  {
    std::lock_guard<std::mutex> g(FLock);
    FFailed = true;
    CloseLocked();
  }
  if (FOnNote) FOnNote(Why, true);
}

void TKzPlayRecording::Close() {
  std::lock_guard<std::mutex> g(FLock);
  CloseLocked();
}

int64_t TKzPlayRecording::DataSize() const {
  std::lock_guard<std::mutex> g(FLock);
  return FWriter ? FWriter->DataSize() : 0;
}

}  // namespace kz
