// Shared by the FFmpeg engine's tests: media files made by the ffmpeg tool,
// ffprobe's answers, and a player whose events are recorded.
#pragma once
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "ffmpeg/fmxMKzFFmpeg.h"
#include "ffmpeg/fmxMKzFFmpegLib.h"
#include "tests/kztestneed.h"
#include "tests/kztestpeers.h"

namespace kztest {

// Output of a shell command (stdout), "" on failure.
inline std::string Run(const std::string& Cmd) {
  std::string out;
  FILE* p = popen(Cmd.c_str(), "r");
  if (!p) return out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  pclose(p);
  return out;
}

// Text without its trailing line break.
inline std::string KzTrimLine(std::string Text) {
  while (!Text.empty() && (Text.back() == '\n' || Text.back() == '\r')) Text.pop_back();
  return Text;
}

// Makes Path with ffmpeg from lavfi sources; false on failure.
inline bool MakeMedia(const std::string& Args, const std::string& Path) {
  return std::system(("ffmpeg -v error -y " + Args + " '" + Path + "' </dev/null").c_str()) == 0;
}

// Frames of the first video stream as ffprobe counts them by decoding.
inline int ProbeFrameCount(const std::string& Path) {
  return std::atoi(Run("ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames "
                       "-of csv=p=0 '" + Path + "'").c_str());
}
// Duration in seconds of the first stream of Kind ("v", "a"), or of the file.
inline double ProbeDuration(const std::string& Path, const std::string& Kind = "") {
  const std::string what = Kind.empty() ? "format=duration" : "stream=duration -select_streams " + Kind + ":0";
  return std::atof(Run("ffprobe -v error -show_entries " + what + " -of csv=p=0 '" + Path + "'").c_str());
}

// What a player reported, safe to read while it plays.
struct TPlayLog {
  std::mutex Lock;
  std::condition_variable Changed;
  std::vector<kz::TKzFFMState> States;
  std::vector<double> Times;
  std::vector<std::pair<int32_t, std::string>> Errors;
  std::array<uint8_t, 4> Centre{};  // B, G, R, A of the last picture's centre
  int Width = 0, Height = 0;
  int SourceWidth = 0, SourceHeight = 0;  // what the picture was scaled from
  int64_t AudioBytes = 0;
  int32_t AudioRate = 0, AudioChannels = 0;
  kz::TKzBitsPerSample AudioBits = kz::TKzBitsPerSample::kzbps8;

  // Hooks the player's events up to this log.
  void Attach(kz::TKzMFFMPEG& P) {
    P.OnChangeState = [this](void*, kz::TKzFFMState S) { Note([&] { States.push_back(S); }); };
    P.OnError = [this](void*, int32_t C, const std::string& T) { Note([&] { Errors.emplace_back(C, T); }); };
    P.OnNewImage = [this](void*, kz::TKzMBitmap& Img, double T) {
      Note([&] {
        Times.push_back(T);
        Width = Img.Width();
        Height = Img.Height();
        SourceWidth = Img.SourceWidth();
        SourceHeight = Img.SourceHeight();
        const uint32_t px = Img.Data()[int64_t(Img.Height() / 2) * Img.Width() + Img.Width() / 2];
        Centre = {uint8_t(px), uint8_t(px >> 8), uint8_t(px >> 16), uint8_t(px >> 24)};
      });
      return true;
    };
  }
  void AttachAudio(kz::TKzMFFMPEG& P) {
    P.OnGetAudio = [this](void*, kz::TMemoryStream&, int32_t& Size, uint16_t, int64_t&, uint32_t&, int32_t& Rate,
                          kz::TKzBitsPerSample& Bits, int32_t& Channels) {
      Note([&] {
        AudioBytes += Size;
        AudioRate = Rate;
        AudioChannels = Channels;
        AudioBits = Bits;
      });
    };
  }
  template <typename F>
  void Note(F&& Change) {
    {
      std::lock_guard<std::mutex> g(Lock);
      Change();
    }
    Changed.notify_all();
  }
  // Waits up to Ms for Pred (called under the lock).
  template <typename P>
  bool WaitFor(int Ms, P&& Pred) {
    std::unique_lock<std::mutex> g(Lock);
    return Changed.wait_for(g, std::chrono::milliseconds(Ms), Pred);
  }
  size_t FrameCount() {
    std::lock_guard<std::mutex> g(Lock);
    return Times.size();
  }
};

}  // namespace kztest
