// Shared by the recorder's tests: sources that hand over pictures and sound
// when told, a recorder driven step by step on the virtual clock, and
// ffprobe's view of the files it wrote.
#pragma once
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <sstream>
#include <thread>

#include "audio/fmxMKzAudioSource.h"
#include "platform/fmxMKzPlatformClock.h"
#include "recorder/fmxMKzCamRecorder.h"
#include "tests/ffmpeg/kzffmpegtest.h"

namespace kztest {

// A video source whose pictures come from the test.
class TPictureSource : public kz::TKzVideoSource {
public:
  TPictureSource() : kz::TKzVideoSource(nullptr) {}
  void Abort() override {}
  void Deliver(const kz::TKzMBitmap& Picture) {
    LockConsumers();
    for (kz::IKzCamRecorderConsumer* r : FConsumers.CamRecorders) r->RecorderGetImage(this, Picture, 0, kz::TGUID{});
    UnlockConsumers();
  }
};

// An audio source whose 16-bit blocks come from the test.
class TSoundSource : public kz::TKzAudioSource {
public:
  explicit TSoundSource(int32_t Rate = 44100, int32_t Channels = 1) : kz::TKzAudioSource(nullptr), Rate(Rate), Channels(Channels) {}
  // Ms milliseconds of a tone (Amplitude 0: silence), continuing the phase.
  void Deliver(int Ms, double Amplitude = 8000, double Hz = 440) {
    const int64_t frames = int64_t(Rate) * Ms / 1000;
    kz::TMemoryStream s;
    for (int64_t i = 0; i < frames; ++i, ++Sample) {
      const int16_t v = int16_t(Amplitude * std::sin(2 * M_PI * Hz * double(Sample) / Rate));
      for (int c = 0; c < Channels; ++c) s.Write(&v, 2);
    }
    s.Seek(0, kz::TSeekOrigin::soBeginning);
    OutputSound(s, int32_t(s.Size()), kz::TGUID{}, Channels, kz::TKzBitsPerSample::kzbps16, Rate);
  }
  int32_t Rate, Channels;
  int64_t Sample = 0;
};

// A picture of one colour (B, G, R).
inline kz::TKzMBitmap Picture(int W, int H, uint32_t Bgr) {
  kz::TKzMBitmap b(W, H);
  std::fill_n(b.Data(), b.GetLength(), 0xFF000000u | Bgr);
  return b;
}

// Waits up to Ms of real time for Pred.
template <typename P>
bool WaitUntil(int Ms, P&& Pred) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(Ms);
  while (!Pred()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

// Lines of ffprobe's csv output for Entries of stream Sel ("v:0", "a:0").
inline std::vector<std::string> Probe(const std::string& Path, const std::string& Sel, const std::string& Entries) {
  std::istringstream in(Run("ffprobe -v error -select_streams " + Sel + " -show_entries " + Entries +
                            " -of csv=p=0 '" + Path + "'"));
  std::vector<std::string> lines;
  for (std::string l; std::getline(in, l);)
    if (!l.empty()) lines.push_back(l);
  return lines;
}
inline std::string CodecOf(const std::string& Path, const std::string& Sel) {
  const auto l = Probe(Path, Sel, "stream=codec_name");
  return l.empty() ? "" : l[0].substr(0, l[0].find(','));
}
// Seconds from the first packet's time to the last one's end.
inline double StreamSpan(const std::string& Path, const std::string& Sel) {
  double first = 1e9, end = 0;
  for (const std::string& l : Probe(Path, Sel, "packet=pts_time,duration_time")) {
    const double pts = std::atof(l.c_str()), d = std::atof(l.substr(l.find(',') + 1).c_str());
    first = std::min(first, pts);
    end = std::max(end, pts + d);
  }
  return end > first ? end - first : 0;
}
// What FFmpeg says when it decodes the whole file ("" when it reads clean).
inline std::string DecodeErrors(const std::string& Path) {
  return Run("ffmpeg -v error -i '" + Path + "' -f null - 2>&1");
}

}  // namespace kztest
