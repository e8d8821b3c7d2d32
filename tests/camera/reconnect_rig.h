// Helpers of the reconnect tests: a camera that records its reconnect
// events, and a synthetic camera that can be taken away and brought back on
// the same port.
#pragma once
#include <filesystem>
#include <memory>
#include <utility>
#include <vector>

#include "camera_rig.h"
#include "tests/kztestpeers.h"

namespace kztest {

struct TReconnectRig : TStreamRig {
  TReconnectRig() {
    Cam.OnReconnecting = [this](kz::TComponent*, uint32_t Attempt, const kz::TKzSourceError& Reason) {
      Events.emplace_back(Attempt, Reason);
    };
  }
  bool WaitEvents(size_t N, int Ms = 10000) {
    return kz::PumpUntil([&] { return Events.size() >= N; }, Ms);
  }
  std::vector<std::pair<uint32_t, kz::TKzSourceError>> Events;
};

inline std::unique_ptr<kzcamsim::TKzCamSim> StartSim(uint16_t Port, double Fps = 25) {
  auto sim = std::make_unique<kzcamsim::TKzCamSim>(
      kzcamsim::TKzSimOptions{.Port = Port, .Width = 160, .Height = 120, .FramePerSec = Fps, .Faults = {}});
  if (!sim->Start()) return nullptr;
  return sim;
}

inline std::string StreamURL(uint16_t Port) { return "http://127.0.0.1:" + std::to_string(Port) + "/video.mjpg"; }

// Takes the camera Sim away for OutageMs and brings it back on its port;
// the milliseconds from its return to the next frame, -1 when none came
// within 20 s. The camera must keep playing (no end report) meanwhile.
inline int64_t Outage(TReconnectRig& Rig, std::unique_ptr<kzcamsim::TKzCamSim>& Sim, int OutageMs) {
  const uint16_t port = Sim->Port();
  Sim.reset();
  PumpFor(OutageMs);
  EXPECT_TRUE(Rig.Cam.IsVideoPlaying());
  EXPECT_TRUE(Rig.Ends.empty());
  Sim = StartSim(port);
  if (!Sim) return -1;
  const uint64_t back = kz::KzMGetTickCount();
  if (!Rig.WaitFrames(Rig.Probe.Frames() + 1, 20000)) return -1;
  return static_cast<int64_t>(kz::KzMGetTickCount() - back);
}

// How soon video must come back after the camera does.
constexpr int64_t kResumeMs = kSanitized ? 5000 : 2000;

}  // namespace kztest
