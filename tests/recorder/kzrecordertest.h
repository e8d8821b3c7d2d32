// Shared by the recorder's tests: sources that hand over pictures and sound
// when told, a recorder driven step by step on the virtual clock, and
// ffprobe's view of the files it wrote.
#pragma once
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <regex>
#include <sstream>

#include "audio/fmxMKzAudioSource.h"
#include "platform/fmxMKzPlatformClock.h"
#include "platform/fmxMKzPlatformMainThread.h"
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
// What FFmpeg says when it decodes the whole file ("" when it reads clean);
// the file's own timestamps pass through in the file's own time base, so the
// null output's frame-rate rounding cannot make two close frames collide.
inline std::string DecodeErrors(const std::string& Path) {
  return Run("ffmpeg -v error -i '" + Path + "' -fps_mode passthrough -enc_time_base -1 -f null - 2>&1");
}

// Times (s) where the luma average of the video rises above the middle.
inline std::vector<double> Flashes(const std::string& Path) {
  std::vector<double> out;
  bool bright = false;
  std::istringstream in(Run("ffprobe -v error -f lavfi 'movie=" + Path +
                            ",signalstats' -show_entries frame=pts_time:frame_tags=lavfi.signalstats.YAVG "
                            "-of csv=p=0"));
  for (std::string l; std::getline(in, l);) {
    const size_t comma = l.find(',');
    if (comma == std::string::npos) continue;
    const double t = std::atof(l.c_str()), y = std::atof(l.c_str() + comma + 1);
    if (y > 128 && !bright) out.push_back(t);
    bright = y > 128;
  }
  return out;
}

// Times (s) where a sound starts after silence.
inline std::vector<double> Beeps(const std::string& Path) {
  const std::string log = Run("ffmpeg -v info -nostats -i '" + Path + "' -af silencedetect=n=-30dB:d=0.1 -f null - 2>&1");
  std::vector<double> out;
  const std::regex end("silence_end: ([0-9.]+)");
  for (auto it = std::sregex_iterator(log.begin(), log.end(), end); it != std::sregex_iterator(); ++it)
    out.push_back(std::atof((*it)[1].str().c_str()));
  return out;
}

// Records Seconds of virtual time at Fps into Out: each second starts with a
// white picture and a 100 ms beep handed over at the same instant, the rest
// is black and silent. The clock jumps to the flash's frame and then to the
// second's last frame: the encoder catches up without anything skipped.
inline void RecordFlashesAndBeeps(int Fps, int Seconds, const std::string& Out) {
  kz::TKzVirtualClockScope clock;
  TPictureSource video;
  TSoundSource sound;
  kz::TKzCamRecorder rec(nullptr);
  rec.SetVideoSource(&video);
  rec.SetAudioSource(&sound);
  rec.SetVideoFramePerSec(Fps);
  rec.SetOutputFileName(Out);
  rec.SetActive(true);
  ASSERT_TRUE(rec.Active());
  const uint64_t t0 = clock.Clock.Now();
  const kz::TKzMBitmap white = Picture(64, 48, 0xFFFFFF), black = Picture(64, 48, 0);
  auto stepTo = [&](int64_t Step) {  // the clock at Step's due time, then Step done
    clock.Clock.Set(t0 + uint64_t(Step * 1000 / Fps));
    ASSERT_TRUE(kz::PumpUntil([&] { return rec.Stats().Steps > Step; }, 60000)) << "step " << Step;
  };
  for (int s = 0; s < Seconds; ++s) {
    video.Deliver(white);
    sound.Deliver(100, 12000, 1000);
    sound.Deliver(900, 0);
    ASSERT_NO_FATAL_FAILURE(stepTo(int64_t(s) * Fps));
    video.Deliver(black);
    ASSERT_NO_FATAL_FAILURE(stepTo(int64_t(s + 1) * Fps - 1));
  }
  rec.SetActive(false);
}

// Every beep start lies within one frame period of its flash.
inline void ExpectBeepsOnFlashes(const std::string& Out, int Fps, size_t Seconds) {
  const std::vector<double> flashes = Flashes(Out), beeps = Beeps(Out);
  ASSERT_EQ(flashes.size(), Seconds);
  ASSERT_GE(beeps.size(), Seconds - 1);  // the first beep may start the file without silence before it
  for (double b : beeps) {
    if (b > flashes.back() + 0.5) continue;  // the end of the file closes the last silence
    const auto nearest = std::min_element(flashes.begin(), flashes.end(),
                                          [b](double x, double y) { return std::abs(x - b) < std::abs(y - b); });
    EXPECT_NEAR(*nearest, b, 1.0 / Fps) << "beep at " << b;
  }
  EXPECT_NEAR(StreamSpan(Out, "a:0"), StreamSpan(Out, "v:0"), 0.1);
}

// Runs kztool with Args in a user and mount namespace of its own, where
// "$MNT" is a tmpfs of Size; then prints "rc=" and kztool's exit code, for
// each file left there "frames N" and what ffmpeg says decoding it, and "end".
inline std::string KztoolOnSmallDisk(const TTempDir& Dir, const std::string& Size, const std::string& Args) {
  const std::string mnt = Dir / "small";
  std::filesystem::create_directory(mnt);
  WriteFile(Dir / "full.sh", "MNT='" + mnt + "'\nmount -t tmpfs -o size=" + Size + " none \"$MNT\" || exit 9\n'" +
                                 AppPath("kztool") + "' " + Args + " 2>&1\necho rc=$?\nfor f in \"$MNT\"/*.mkv; do "
                                 "echo frames $(ffprobe -v error -count_packets -select_streams v:0 -show_entries "
                                 "stream=nb_read_packets -of csv=p=0 \"$f\"); ffmpeg -v error -i \"$f\" -f null - 2>&1; "
                                 "done\necho end\n");
  return Run("unshare -rm sh '" + (Dir / "full.sh") + "'");
}

// How often Part occurs in Text.
inline size_t Occurrences(const std::string& Text, const std::string& Part) {
  size_t n = 0;
  for (size_t at = 0; (at = Text.find(Part, at)) != std::string::npos; ++at) ++n;
  return n;
}

// One file of more than MinFrames frames that ffmpeg decodes to its end without a word.
inline void ExpectOnePlayableFile(const std::string& Printed, int MinFrames) {
  const size_t frames = Printed.find("\nframes ");
  ASSERT_NE(frames, std::string::npos) << Printed;
  EXPECT_GT(std::atoi(Printed.c_str() + frames + 8), MinFrames) << Printed;
  EXPECT_EQ(Printed.substr(Printed.find('\n', frames + 1) + 1), "end\n") << Printed;
}

}  // namespace kztest
