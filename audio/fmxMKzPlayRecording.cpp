#include "audio/fmxMKzPlayRecording.h"

#include "foundation/fmxMKzErrors.h"

namespace kz {

namespace {
int32_t RecordBits(TKzSampleFormat Format) { return Format == TKzSampleFormat::kzsf8 ? 8 : 16; }
}  // namespace

bool TKzPlayRecording::Check(const TKzPlayRecordSettings& Settings, std::string& Why) {
  if (Settings.Codec != TKzAudioCodec::kzacWAV) {
    Why = "FFmpeg audio encoding is not available";
    return false;
  }
  if (Settings.SampleFormat != TKzSampleFormat::kzsf8 && Settings.SampleFormat != TKzSampleFormat::kzsf16)
    throw EKzMediaError("Invalid WAV format: samples must be 8 or 16 bits");
  if (Settings.FileName.empty()) {
    Why = "No output file name";
    return false;
  }
  return true;
}

TKzPlayRecording::TKzPlayRecording(const TKzPlayRecordSettings& Settings, TNoteEvent OnEnd)
    : FSettings(Settings), FOnNote(std::move(OnEnd)) {}

TKzPlayRecording::~TKzPlayRecording() { Close(); }

bool TKzPlayRecording::Add(const TGUID& GUID, uint16_t AudioIndex, const uint8_t* Data, int32_t Size,
                           const TKzAudioInfo& Format) {
  std::unique_lock<std::mutex> lk(FLock);
  if (FFailed) return false;
  if (!FHaveSource) {
    FHaveSource = true;
    FGUID = GUID;
    FAudioIndex = AudioIndex;
    FFormat = Format;
    try {
      FWriter = std::make_unique<TKzWaveWriter>(FSettings.FileName, Format.Channels, Format.SamplesPerSec,
                                                RecordBits(FSettings.SampleFormat));
    } catch (const EKzMediaError& e) {
      lk.unlock();
      Fail(e.what());
      return false;
    }
  }
  if (!(GUID == FGUID) || AudioIndex != FAudioIndex || !(Format == FFormat)) {
    const bool first = !FSkipped;
    FSkipped = true;
    lk.unlock();
    if (first && FOnNote) FOnNote("Recording follows one source; others are left out", false);
    return true;
  }
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
  if (!FWriter->Write(out, outSize)) {
    lk.unlock();
    Fail("Cannot write " + FSettings.FileName);
    return false;
  }
  return true;
}

void TKzPlayRecording::Fail(const std::string& Why) {
  {
    std::lock_guard<std::mutex> g(FLock);
    FFailed = true;
    if (FWriter) FWriter->Close();
  }
  if (FOnNote) FOnNote(Why, true);
}

void TKzPlayRecording::Close() {
  std::lock_guard<std::mutex> g(FLock);
  if (FWriter) FWriter->Close();
}

int64_t TKzPlayRecording::DataSize() const {
  std::lock_guard<std::mutex> g(FLock);
  return FWriter ? FWriter->DataSize() : 0;
}

}  // namespace kz
