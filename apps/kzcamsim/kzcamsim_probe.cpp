// A view that counts and measures the frames a camera delivers.
#include <algorithm>

#include "apps/kzcamsim/kzcamsim_lib.h"
#include "foundation/fmxMKzType.h"

using namespace kz;

namespace kzcamsim {

namespace {
constexpr size_t kMaxRecords = 1000000;
}

TKzSimFrameProbe::TKzSimFrameProbe(const TKzCamSim* Sim, size_t KeepFrames) : FSim(Sim), FKeep(KeepFrames) {}

void TKzSimFrameProbe::ViewerGetImageBMP(TComponent*, const TKzMBitmap& Bitmap, bool, uint16_t, const TGUID&) {
  const int64_t now = static_cast<int64_t>(KzMGetTickCount());
  const int64_t stamp = KzSimReadStamp(Bitmap);
  const int64_t drawn = FSim && stamp >= 0 ? FSim->FrameTick(static_cast<uint32_t>(stamp)) : -1;
  std::lock_guard<std::mutex> g(FLock);
  if (FTicks.size() < kMaxRecords) {
    FTicks.push_back(now);
    FStamps.push_back(stamp);
  }
  if (drawn >= 0) {
    FLatencyLast = now - drawn;
    FLatencyMax = std::max(FLatencyMax, FLatencyLast);
    FLatencySum += static_cast<double>(FLatencyLast);
    ++FLatencyCount;
  }
  if (FKeepNext || FKept.size() < FKeep) {
    FKeepNext = false;
    FKept.emplace_back(static_cast<int64_t>(FTicks.size()), Bitmap);
  }
}

int64_t TKzSimFrameProbe::Frames() const {
  std::lock_guard<std::mutex> g(FLock);
  return static_cast<int64_t>(FTicks.size());
}

double TKzSimFrameProbe::FrameRateAfter(int64_t FromMs) const {
  std::lock_guard<std::mutex> g(FLock);
  if (FTicks.empty()) return 0;
  const auto first = std::lower_bound(FTicks.begin(), FTicks.end(), FTicks.front() + FromMs);
  const int64_t n = FTicks.end() - first;
  if (n < 2 || FTicks.back() == *first) return 0;
  return static_cast<double>(n - 1) * 1000.0 / static_cast<double>(FTicks.back() - *first);
}

double TKzSimFrameProbe::FrameRate() const { return FrameRateAfter(0); }

std::vector<int64_t> TKzSimFrameProbe::Ticks() const {
  std::lock_guard<std::mutex> g(FLock);
  return FTicks;
}

std::vector<int64_t> TKzSimFrameProbe::Stamps() const {
  std::lock_guard<std::mutex> g(FLock);
  return FStamps;
}

int64_t TKzSimFrameProbe::LastLatency() const {
  std::lock_guard<std::mutex> g(FLock);
  return FLatencyLast;
}

double TKzSimFrameProbe::MeanLatency() const {
  std::lock_guard<std::mutex> g(FLock);
  return FLatencyCount ? FLatencySum / static_cast<double>(FLatencyCount) : 0;
}

int64_t TKzSimFrameProbe::MaxLatency() const {
  std::lock_guard<std::mutex> g(FLock);
  return FLatencyMax;
}

bool TKzSimFrameProbe::TakeFrame(TKzMBitmap& Frame, int64_t& Number) {
  std::lock_guard<std::mutex> g(FLock);
  if (FKept.empty()) return false;
  Number = FKept.front().first;
  Frame = FKept.front().second;
  FKept.pop_front();
  return true;
}

void TKzSimFrameProbe::KeepNext() {
  std::lock_guard<std::mutex> g(FLock);
  FKeepNext = true;
}

void TKzSimFrameProbe::SetDecodeSizeRequest(TKzDecodeSize Value) {
  std::lock_guard<std::mutex> g(FLock);
  FDecodeSize = Value;
}

TKzDecodeSize TKzSimFrameProbe::DecodeSizeRequest() const {
  std::lock_guard<std::mutex> g(FLock);
  return FDecodeSize;
}

}  // namespace kzcamsim
