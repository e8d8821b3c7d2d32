// What the capture tests share: the fake V4L2 devices installed for one
// test, an owner that records what a capture object reports, frames made by
// ffmpeg, and waiting on the main thread with a generous bound.
#pragma once
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "capture/fmxMKzCustomBase.h"
#include "foundation/fmxMKzTypesThreads.h"
#include "platform/fmxMKzPlatformMainThread.h"
#include "platform/fmxMKzPlatformV4L2Fake.h"
#include "tests/kztestpeers.h"

namespace kztest {

// The four fake nodes, installed as the V4L2 backend while the rig lives.
struct TFakeV4L2Rig {
  kz::TKzFakeV4L2 Fake;
  TFakeV4L2Rig() {
    Fake.Add(kz::KzFakePanTiltWebCam());
    Fake.Add(kz::KzFakeFixedWebCam());
    Fake.Add(kz::KzFakeMetadataNode());
    Fake.Add(kz::KzFakeOutputNode());
    kz::KzSetV4L2(&Fake);
  }
  ~TFakeV4L2Rig() { kz::KzSetV4L2(nullptr); }
};

// Records the reports of a capture object (frames on the frame thread, the
// rest on the main thread).
class TRecordingOwner : public kz::IKzCaptureOwner {
public:
  bool BeforeCamDrawImageFromWebCam() override { return true; }
  void CamDrawImage(kz::TKzMBitmap& Bitmap, double) override {
    std::lock_guard<std::mutex> l(FLock);
    Last = Bitmap;
    ++Frames;
  }
  void AfterCamDrawImageFromWebCam() override {}
  void StartVideoStream() override { Add("begin"); }
  void StartedVideoStream() override { Add("started"); }
  void DoneVideoStream(int32_t Status) override { Add("done " + std::to_string(Status)); }
  void ClearLastFrame() override { Add("clear"); }
  void DeviceOperation(kz::TKzDeviceOperation Op, bool Done) override {
    Add("op" + std::to_string(static_cast<int>(Op)) + (Done ? " done" : " asked"));
  }
  void CaptureDebug(const std::string& Text) override { Add("debug " + Text); }

  int FrameCount() {
    std::lock_guard<std::mutex> l(FLock);
    return Frames;
  }
  kz::TKzMBitmap LastFrame() {
    std::lock_guard<std::mutex> l(FLock);
    return Last;
  }
  std::vector<std::string> Events() {
    std::lock_guard<std::mutex> l(FLock);
    return FEvents;
  }
  bool Has(const std::string& Prefix) {
    for (const std::string& e : Events())
      if (e.rfind(Prefix, 0) == 0) return true;
    return false;
  }

private:
  void Add(std::string E) {
    std::lock_guard<std::mutex> l(FLock);
    FEvents.push_back(std::move(E));
  }
  std::mutex FLock;
  std::vector<std::string> FEvents;
  kz::TKzMBitmap Last;
  int Frames = 0;
};

// Runs main-thread work until Cond holds or Ms pass; whether it held.
inline bool WaitUntil(const std::function<bool()>& Cond, int Ms = 10000) { return kz::PumpUntil(Cond, Ms); }

// Runs ffmpeg with Args (output last) and returns the bytes of Out.
inline std::vector<uint8_t> Ffmpeg(const std::string& Args, const std::string& Out) {
  const std::string cmd = "ffmpeg -nostdin -v error -y " + Args + " " + Out + " >/dev/null 2>&1";
  if (std::system(cmd.c_str()) != 0) return {};
  const std::string b = ReadFile(Out);
  return std::vector<uint8_t>(b.begin(), b.end());
}

// One raw frame of ffmpeg's test picture, made of 2 x 2 blocks so that
// subsampled chroma is exact whichever way it is spread out again.
inline std::vector<uint8_t> TestFrame(const TTempDir& Dir, const std::string& PixFmt, int W, int H) {
  return Ffmpeg("-f lavfi -i testsrc2=size=" + std::to_string(W / 2) + "x" + std::to_string(H / 2) +
                    ":rate=1 -frames:v 1 -vf scale=" + std::to_string(W) + ":" + std::to_string(H) +
                    ":flags=neighbor -pix_fmt " + PixFmt + " -f rawvideo",
                Dir / (PixFmt + ".raw"));
}

}  // namespace kztest
