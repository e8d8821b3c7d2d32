// Test doubles for the camera tests: consumers that record what they are
// told, and a fetch-thread factory whose threads run until told to end (or
// until aborted), optionally handing frames to the camera meanwhile.
#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "camera/fmxMKzCamera.h"
#include "platform/fmxMKzPlatformMainThread.h"

namespace kztest {

using namespace kz;

// Calls of consumer notifications, in order, across all doubles sharing it.
struct TCallLog {
  std::mutex Lock;
  std::vector<std::string> Calls;
  void Add(const std::string& S) {
    std::lock_guard<std::mutex> g(Lock);
    Calls.push_back(S);
  }
  std::vector<std::string> Snapshot() {
    std::lock_guard<std::mutex> g(Lock);
    return Calls;
  }
};

class TFakeView : public IKzCamViewConsumer {
public:
  explicit TFakeView(std::string Name = "view", TCallLog* Log = nullptr) : FName(std::move(Name)), FLog(Log) {}
  void ViewerGetImageBMP(TComponent*, const TKzMBitmap& Bitmap, bool, uint16_t, const TGUID&) override {
    LastWidth.store(Bitmap.Width());
    ++Frames;
  }
  void ViewerBeginVideoStream(TComponent*) override { Log("begin"); }
  void ViewerDoneVideoStream(TComponent*, int32_t Status) override { Log("done " + std::to_string(Status)); }
  void ClearLastFrame(bool) override {
    ++Clears;
    Log("clear");
  }
  std::atomic<int> Frames{0};
  std::atomic<int> LastWidth{0};
  std::atomic<int> Clears{0};

private:
  void Log(const std::string& What) {
    if (FLog) FLog->Add(FName + " " + What);
  }
  std::string FName;
  TCallLog* FLog;
};

class TFakeSender : public IKzCamSenderConsumer {
public:
  explicit TFakeSender(std::string Name = "sender", TCallLog* Log = nullptr) : FName(std::move(Name)), FLog(Log) {}
  void SenderGetImage(TComponent*, TKzImageWrapper&, uint16_t, const TGUID&) override { ++Frames; }
  void SenderBeginVideoStream(TComponent*) override {
    if (FLog) FLog->Add(FName + " begin");
  }
  void SenderDoneVideoStream(TComponent*, int32_t Status) override {
    if (FLog) FLog->Add(FName + " done " + std::to_string(Status));
  }
  std::atomic<int> Frames{0};

private:
  std::string FName;
  TCallLog* FLog;
};

// What the test wants the next fetch threads to do, and what they saw.
struct TFakeStreamControl {
  std::atomic<bool> Finish{false};      // end on its own
  std::atomic<bool> Succeed{true};      // with this result
  std::atomic<bool> PushFrames{false};  // hand 8x8 frames to the camera while running
  std::atomic<int> Running{0};
  // Bytes copied into the camera's pipeline every few ms, like a Motion-JPEG reader.
  std::vector<uint8_t> Payload;  // set before the thread starts
  std::mutex Lock;
  std::vector<std::pair<TKzCamStreamKind, TKzCamStreamParams>> Created;
  size_t CreatedCount() {
    std::lock_guard<std::mutex> g(Lock);
    return Created.size();
  }
};

class TFakeStreamThread : public TKzCamStreamThread {
public:
  TFakeStreamThread(TKzCamStreamKind Kind, TKzCamera* Camera, TFakeStreamControl& Control)
      : TKzCamStreamThread(Kind, "TFakeStream"), FCamera(Camera), FControl(Control) {}

protected:
  void DoExecute() override {
    ++FControl.Running;
    TKzMBitmap frame(8, 8);
    while (!Terminated()) {
      if (FControl.Finish.load()) {
        SetResult(FControl.Succeed.load());
        break;
      }
      if (FControl.PushFrames.load() && FCamera->CanOutputFrames()) FCamera->CamDrawImage(frame, 0);
      if (!FControl.Payload.empty()) {
        FCamera->GetDataThread()->CopyFromBuffer(FControl.Payload.data(), static_cast<int64_t>(FControl.Payload.size()));
        FCamera->GetDataThread()->IsCheckData();
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    --FControl.Running;
  }

private:
  TKzCamera* FCamera;
  TFakeStreamControl& FControl;
};

class TFakeStreamFactory : public IKzCamStreamFactory {
public:
  TFakeStreamFactory() { FPrevious = KzSetCamStreamFactory(this); }
  ~TFakeStreamFactory() override { KzSetCamStreamFactory(FPrevious); }
  TKzCamStreamThread* CreateStreamThread(TKzCamStreamKind Kind, const TKzCamStreamParams& Params) override {
    {
      std::lock_guard<std::mutex> g(Control.Lock);
      Control.Created.emplace_back(Kind, Params);
    }
    return new TFakeStreamThread(Kind, Params.Camera, Control);
  }
  bool IsSupportedFFMPEG() override { return FFmpeg; }
  bool IsSupportedGStreamer() override { return false; }
  TFakeStreamControl Control;
  bool FFmpeg = false;

private:
  IKzCamStreamFactory* FPrevious;
};

inline bool Pump(const std::function<bool()>& Done, int TimeoutMs = 5000) { return PumpUntil(Done, TimeoutMs); }

}  // namespace kztest
