// The microphone's WAV-file source: the file is read ahead into a buffer and
// played in blocks of BufferDuration on a main-thread timer.
#include <algorithm>
#include <cstring>

#include "audio/fmxMKzAudioFuncs.h"
#include "audio/fmxMKzCustomMic.h"
#include "audio/fmxMKzMicWavSource.h"
#include "platform/fmxMKzPlatformClock.h"

namespace kz {

namespace {
// Whole-file reads stop here.
constexpr int64_t kMaxReadAhead = 64ll << 20;
}  // namespace

int64_t TCustomKzMicrophone::WavPosition() const { return FWav ? FWav->Position : 0; }

bool TCustomKzMicrophone::OpenWavFile() {
  auto w = std::make_unique<TWavSource>(FWavFileName);
  std::string error;
  if (!w->File.Valid())
    error = "cannot open the file";
  else if (ReadWaveHeader(w->File, w->Header, error) && w->Header.Frames == 0)
    error = "no samples";
  if (!error.empty()) {
    KzPostMessageDebug(this, 0, "WAV file " + FWavFileName + ": " + error);
    return false;
  }
  const TKzWaveHeader& h = w->Header;
  const int64_t fileFrameBytes = h.FileBlockAlign;
  int64_t frames = h.Frames;
  if (FAudioBufferSize != 0 && !FWavUseOptions)
    frames = std::max<int64_t>(h.SamplesPerSec, std::min<int64_t>(FAudioBufferSize / fileFrameBytes, h.Frames));
  w->Capacity = std::max<int64_t>(1, std::min(frames, kMaxReadAhead / fileFrameBytes));
  w->Buffer.resize(static_cast<size_t>(w->Capacity * fileFrameBytes));
  FWav = std::move(w);
  FillReadAhead(0);
  FActive = true;
  if (OnOpenWavFile) OnOpenWavFile(this, h.Frames, h.Channels, h.Bits, h.SamplesPerSec);
  if (!FWav) return false;  // the event closed it
  InitRNNoise(true, h.Channels);
  FWav->StartTick = PlatformTickCount() + 1;
  FWavTimer.OnTimer = [this](TTimer*) { WavTick(); };
  FWavTimer.SetInterval(1);
  FWavTimer.SetEnabled(true);
  return true;
}

void TCustomKzMicrophone::CloseWavFile() {
  if (!FWav) return;
  DoneRNNoise();
  FWavTimer.SetEnabled(false);
  const int64_t position = FWav->Position, frames = FWav->Header.Frames;
  FWav.reset();
  FActive = false;
  SetLevelNoSound();
  if (OnCloseWavFile && !IsDestroying()) OnCloseWavFile(this, position, frames);
}

bool TCustomKzMicrophone::FillReadAhead(int64_t FramesNeeded) {
  TWavSource& w = *FWav;
  const int64_t fb = w.Header.FileBlockAlign;
  const int64_t rest = w.Buffered - w.Consumed;
  if (rest >= FramesNeeded && w.Buffered > 0) return true;
  std::memmove(w.Buffer.data(), w.Buffer.data() + w.Consumed * fb, static_cast<size_t>(rest * fb));
  w.Buffered = rest;
  w.Consumed = 0;
  const int64_t want = std::min(w.Capacity - w.Buffered, w.Header.Frames - w.FileFrame);
  if (want <= 0) return rest > 0;
  w.File.Seek(w.Header.DataOffset + w.FileFrame * fb, TSeekOrigin::soBeginning);
  const int64_t got = std::max<int64_t>(0, w.File.Read(w.Buffer.data() + w.Buffered * fb, want * fb)) / fb;
  w.Buffered += got;
  w.FileFrame += got;
  return w.Buffered > 0;
}

void TCustomKzMicrophone::WavTick() {
  if (!FWav) return;
  FWavTimer.SetInterval(std::max<uint32_t>(1, FBufferDuration / 10));
  if (!FWavRealTime) {
    ProduceWavBlock();
    return;
  }
  // Block k is due at StartTick + k block lengths: no drift, and a late tick catches up.
  const uint64_t now = PlatformTickCount();
  while (FWav && now >= FWav->StartTick) {
    const int64_t blockFrames = std::max<int64_t>(
        1, FWavUseOptions ? GetSampleCountForNoiseReduction(
                                KzRound(FWav->Header.SamplesPerSec * (FBufferDuration / 1000.0)), false)
                          : int64_t{FWav->Header.SamplesPerSec} * FBufferDuration / 1000);
    const uint64_t due = (now - FWav->StartTick) * FWav->Header.SamplesPerSec / (1000 * blockFrames) + 1;
    if (FWav->BlocksDone >= due || !ProduceWavBlock()) break;
  }
}

bool TCustomKzMicrophone::ProduceWavBlock() {
  TWavSource* w = FWav.get();
  const TKzWaveHeader h = w->Header;
  const int64_t wanted =
      FWavUseOptions
          ? GetSampleCountForNoiseReduction(KzRound(h.SamplesPerSec * (FBufferDuration / 1000.0)), false)
          : int64_t{h.SamplesPerSec} * FBufferDuration / 1000;
  const int64_t frames = std::clamp<int64_t>(std::min(wanted, h.Frames - w->Position), 1, w->Capacity);
  if (OnReadWavFile) OnReadWavFile(this, w->Position, frames);
  if (FWav.get() != w) return false;  // the event closed it
  FillReadAhead(frames);
  const int64_t take = std::min(frames, w->Buffered - w->Consumed);
  TMemoryStream block;
  const int32_t size = static_cast<int32_t>(take * h.FrameBytes());
  block.SetSize(size);
  ConvertWaveFrames(w->Buffer.data() + w->Consumed * h.FileBlockAlign, take, h, block.Memory());
  w->Consumed += take;
  w->Position += take;
  ++w->BlocksDone;
  SetLevel(static_cast<uint16_t>(GetSoundLevel(block.Memory(), size, h.Bits) + 128));
  if (FWavUseOptions)
    ProcessBlock(block, size, h.Channels, h.Bits, h.SamplesPerSec, false);
  else
    GetAudio(block, EmptyGUID(), size, h.Channels, h.Bits, h.SamplesPerSec);
  if (take > 0 && w->Position < h.Frames) return true;
  if (FWavLoop && take > 0) {
    w->Position = w->FileFrame = w->Buffered = w->Consumed = 0;
    return true;
  }
  CloseWavFile();
  return false;
}

}  // namespace kz
