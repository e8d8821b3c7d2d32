// Frames the pipeline tests tell apart: solid colours that survive JPEG.
#pragma once
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

#include "foundation/fmxMKzBitmap.h"
#include "platform/fmxMKzPlatformStream.h"
#include "video/fmxMKzConsumers.h"
#include "video/fmxMKzImageWrapper.h"

namespace kztest {

inline const uint32_t kColours[] = {0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFFFFFFFF, 0xFF000000, 0xFFFFFF00};

inline void FillColour(kz::TKzMBitmap& B, uint32_t Colour, int W, int H) {
  B.SetSize(W, H);
  std::fill(B.Data(), B.Data() + W * H, Colour);
}

inline std::vector<uint8_t> JpegFrame(uint32_t Colour, int W = 64, int H = 48) {
  kz::TKzImageWrapper w;
  FillColour(w.GetBitmap(), Colour, W, H);
  kz::TMemoryStream s;
  EXPECT_TRUE(w.SaveToStream(s));
  return std::vector<uint8_t>(s.Memory(), s.Memory() + s.Size());
}

// Which of kColours a decoded frame shows (-1: none).
inline int ColourIndex(const kz::TKzMBitmap& B) {
  if (B.IsEmpty()) return -1;
  const uint32_t p = B.Data()[B.GetLength() / 2];
  for (int i = 0; i < 6; ++i) {
    int d = 0;
    for (int s = 0; s < 24; s += 8) d += std::abs(int((p >> s) & 255) - int((kColours[i] >> s) & 255));
    if (d < 40) return i;
  }
  return -1;
}

inline std::vector<uint8_t> Concat(std::initializer_list<std::vector<uint8_t>> Parts) {
  std::vector<uint8_t> out;
  for (const auto& p : Parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// A view that records which colour each frame it is handed shows, and when;
// the frames are the pipeline's own (Owned) or shared. While Gate is set it
// keeps the draw thread inside its call (Inside tells so), as a slow
// consumer would.
struct TRecordingView : kz::IKzCamViewConsumer {
  explicit TRecordingView(bool Owned = true) : FOwned(Owned) {}
  std::mutex Lock;
  std::vector<int> Seen;
  std::vector<std::chrono::steady_clock::time_point> When;
  std::atomic<bool> Gate{false}, Inside{false};
  void ViewerGetImageBMP(kz::TComponent*, const kz::TKzMBitmap& B, bool Own, uint16_t, const kz::TGUID&) override {
    EXPECT_EQ(Own, FOwned);
    while (Gate.load()) {
      Inside = true;
      std::this_thread::yield();
    }
    Inside = false;
    std::lock_guard<std::mutex> g(Lock);
    Seen.push_back(ColourIndex(B));
    When.push_back(std::chrono::steady_clock::now());
  }
  size_t Count() {
    std::lock_guard<std::mutex> g(Lock);
    return Seen.size();
  }
  std::vector<int> Frames() {
    std::lock_guard<std::mutex> g(Lock);
    return Seen;
  }

private:
  const bool FOwned;
};

}  // namespace kztest
