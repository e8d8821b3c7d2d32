// Generic sources of media: the consumer lists (views, senders, recorders)
// that a source hands its frames to, the abort state and the wanted frame
// rate and resolution. The camera, the receiver and the other video sources
// derive from TKzVideoSource; views and senders talk to it without knowing
// which source it is.
#pragma once
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "foundation/fmxMKzErrors.h"
#include "foundation/fmxMKzTypesThreads.h"
#include "platform/fmxMKzPlatformComponent.h"
#include "video/fmxMKzConsumers.h"

namespace kz {

// Size classes of video (ordinals are stored with forms).
enum class TKzVideoResolution : uint8_t {
  kzDefault = 0,
  kz160_120 = 1,
  kz320_240 = 2,
  kz640_480 = 3,
  kz1024_768 = 4,
  kz1280_720 = 5,
  kz1900_1280 = 6,
};

// Languages of the library's built-in texts (login form, view captions).
enum class TKzMLanguage : uint8_t {
  kzmlEnglish = 0,
  kzmlFrench = 1,
  kzmlGerman = 2,
  kzmlRussian = 3,
  kzmlSpanish = 4,
  kzmlPortugueseBr = 5,
  kzmlChineseSimplified = 6,
  kzmlChineseTraditional = 7,
};

// The class of a frame size: the largest class whose size the frame exceeds
// in both directions, kz160_120 at least (never kzDefault). Any thread.
TKzVideoResolution GetOptimalVideoResolution(float Width, float Height);
// The size of a class; 0 x 0 for kzDefault. Any thread.
void GetSizeFromResolution(TKzVideoResolution Resolution, int32_t& Width, int32_t& Height);

// A source of media with its registered recorders. The consumer lists are
// changed on the main thread while the source's consumer lock is held; the
// thread that delivers frames reads them under the same lock.
class TKzMediaSource : public TComponent {
public:
  // Main thread, never blocks.
  explicit TKzMediaSource(TComponent* AOwner);
  ~TKzMediaSource() override;

  // Main thread; blocks (running main-thread work) while frames are being
  // delivered. Unregistering a recorder that is not registered raises
  // EKzAssertionFailed ("Assertion failure").
  void RegisterCamRecorder(IKzCamRecorderConsumer* Recorder);
  void UnRegisterCamRecorder(IKzCamRecorderConsumer* Recorder);

  // The lists handed to frame pipelines. Read them only under the consumer
  // lock, or on the main thread.
  TKzConsumerLists& Consumers() { return FConsumers; }
  // Whether any consumer is registered. Any thread, never blocks.
  bool HasConsumers() const { return FConsumerCount.load(std::memory_order_acquire) > 0; }

protected:
  // The lock that frame delivery holds; sources with a draw thread use its
  // display lock. Main thread (SafeEnter semantics) or the delivering thread.
  virtual void LockConsumers() { FConsumerSection.SafeEnter(); }
  virtual void UnlockConsumers() { FConsumerSection.Leave(); }

  template <typename T>
  void AddConsumer(std::vector<T*>& List, T* Item);
  template <typename T>
  void RemoveConsumer(std::vector<T*>& List, T* Item);

  TKzConsumerLists FConsumers;

private:
  TKzCriticalSection FConsumerSection;  // guards FConsumers for sources without a draw thread
  std::atomic<int> FConsumerCount{0};
};

template <typename T>
void TKzMediaSource::AddConsumer(std::vector<T*>& List, T* Item) {
  LockConsumers();
  {
    std::lock_guard<std::mutex> g(FConsumers.ShapeLock);
    List.push_back(Item);
  }
  FConsumerCount.fetch_add(1, std::memory_order_acq_rel);
  UnlockConsumers();
}

template <typename T>
void TKzMediaSource::RemoveConsumer(std::vector<T*>& List, T* Item) {
  LockConsumers();
  bool found;
  {
    std::lock_guard<std::mutex> g(FConsumers.ShapeLock);
    auto it = std::find(List.begin(), List.end(), Item);
    found = it != List.end();
    if (found) List.erase(it);
  }
  if (found) FConsumerCount.fetch_sub(1, std::memory_order_acq_rel);
  UnlockConsumers();
  KzAssert(found);
}

// A source of video frames.
class TKzVideoSource : public TKzMediaSource {
public:
  static constexpr double DefaultFramePerSec = 25.0;

  // Main thread, never blocks.
  explicit TKzVideoSource(TComponent* AOwner);
  ~TKzVideoSource() override;

  // Stops whatever the source is doing. Main thread; never blocks for long.
  virtual void Abort() = 0;

  // Main thread; block (running main-thread work) while frames are being
  // delivered. Unregistering an unknown consumer raises EKzAssertionFailed.
  void RegisterCamView(IKzCamViewConsumer* View);
  void UnRegisterCamView(IKzCamViewConsumer* View);
  void RegisterCamSender(IKzCamSenderConsumer* Sender);
  void UnRegisterCamSender(IKzCamSenderConsumer* Sender);
  void RegisterCamPacketConsumer(IKzCamPacketConsumer* Consumer);
  void UnRegisterCamPacketConsumer(IKzCamPacketConsumer* Consumer);
  // Hand the compressed stream to the packet consumers. The fetch or
  // engine thread; cheap when none is registered.
  void DeliverPacketBytes(const uint8_t* Data, size_t Size);
  void DeliverPacketVideo(const TKzCompressedVideoPacket& Packet);

  // Tell the consumers that a stream began or ended, views first, in
  // registration order; clear the views' last frames. Main thread.
  void CallBeginVideoStream();
  void CallDoneVideoStream(int32_t Status);
  void CallClearLastFrame();

  // An abort is running. Any thread, never blocks.
  bool IsAborting() const { return FAborting.load(std::memory_order_acquire); }
  // The last abort stopped something (frames of an aborted source are not
  // shown). Any thread, never blocks.
  bool IsAborted() const { return FAbort.load(std::memory_order_acquire); }
  // Clears the aborted state. Main thread.
  void ResetAbort() { FAbort.store(false, std::memory_order_release); }

  // Wanted frame rate; stored as max(Value, 0.0001). Main thread to set, any thread to read.
  double FramePerSec() const { return FFramePerSec.load(std::memory_order_acquire); }
  virtual void SetFramePerSec(double Value);
  // The frame rate rounded, at least 1. Any thread.
  int32_t GetFramePerSecInt() const;
  // Whether FramePerSec differs from its default enough to be stored with a form.
  bool IsFramePerSecStored() const;

  TKzVideoResolution VideoResolution() const { return FVideoResolution; }
  // Main thread.
  virtual void SetVideoResolution(TKzVideoResolution Value) { FVideoResolution = Value; }
  TKzVideoResolution GetOptimalVideoResolution(float Width, float Height) const {
    return kz::GetOptimalVideoResolution(Width, Height);
  }
  bool PowerSuspend() const { return FPowerSuspend; }
  void SetPowerSuspend(bool Value) { FPowerSuspend = Value; }

  // Decode JPEG frames at the size the views show them (the largest any
  // consumer asks for; senders and recorders get full size). Takes effect
  // at the next frame. Default true. Any thread.
  bool DecodeToViewSize() const { return FConsumers.DecodeToViewSize.load(std::memory_order_acquire); }
  void SetDecodeToViewSize(bool Value) { FConsumers.DecodeToViewSize.store(Value, std::memory_order_release); }
  // Frames decoded at each scale so far, as "1/1: 10, 1/4: 230". Any thread.
  std::string DecodeScaleSummary() const { return FConsumers.ScaleCounts.Summary(); }
  const TKzDecodeScaleCounts& DecodeScaleCounts() const { return FConsumers.ScaleCounts; }

  // Number and tick count of the last frame drawn; 0 for a source that draws
  // none itself. Any thread, never blocks.
  virtual uint32_t GetFrameIndex() { return 0; }
  virtual int64_t GetLastFrameTickCount() { return 0; }

protected:
  std::atomic<bool> FAborting{false};
  std::atomic<bool> FAbort{false};
  std::atomic<double> FFramePerSec{DefaultFramePerSec};
  std::atomic<int> FPacketConsumerCount{0};
  TKzVideoResolution FVideoResolution = TKzVideoResolution::kzDefault;
  bool FPowerSuspend = false;
};

}  // namespace kz
