// The sender's changed-area state per destination: for one destination GUID
// and one video media index, the pictures the receiver is known to show,
// the counters that decide when a whole frame goes out, its motion detector
// and encoders; and the list of these items with the detector settings
// given to every item.
//
// An item is locked (Lock/Unlock, nesting) for the whole of one frame's
// work; the list's own lock guards only its membership and settings.
#pragma once
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "foundation/fmxMKzBitmap.h"
#include "foundation/fmxMKzTypesThreads.h"
#include "sender/fmxMKzSharedPicture.h"
#include "video/fmxMKzAreaCodec.h"
#include "video/fmxMKzMotionDetector.h"

namespace kz {

class TKzImageInfo {
public:
  // Any thread, never blocks.
  TKzImageInfo(const TGUID& GUID, uint16_t AVideoIndex);

  // Any thread; Lock blocks while another thread holds the item.
  void Lock();
  void Unlock();
  bool Locked() const { return CountLock.load() > 0; }

  // The two counters := 0. Under the item's lock (as everything below).
  void ResetCounter();
  // Each counter + 1 when its interval is above 0.
  void IncCounter(uint32_t FullFrameInterval, uint16_t FrameDifferenceInterval);
  // The next frame goes out whole: asked for, no whole frame built yet, an
  // interval reached, or more than 5 s since the last frame (Now, a tick
  // count). Clears IsNeedSendFullFrame in every case.
  bool IsSendFullImage(uint32_t FullFrameInterval, uint16_t FrameDifferenceInterval, uint64_t Now);

  const TGUID nGUID;
  const uint16_t VideoIndex;
  TKzMBitmap BlurSendBt;  // the smoothed new frame (FilterBlur)
  // The two references; items in the same state hold them together.
  TKzSharedPicture OldSendBt;   // the previous frame as taken, area by area; the detector's reference
  TKzSharedPicture RealSendBt;  // the picture as the receiver rebuilds it; the base of difference pictures
  TKzMBitmap GetBt;       // spare picture (the scaled frame)
  int32_t GetBtWidth = 0, GetBtHeight = 0;
  uint8_t NumFrame = 0;               // frame number of the last whole frame sent
  int64_t OldBufferSingleFrame = 0;   // length of the last whole-frame container (0: none yet)
  bool IsNeedSendFullFrame = true;
  int32_t OldWidth = -1, OldHeight = -1;
  uint32_t FullFrameCounter = 0;
  uint32_t FrameDifferenceCounter = 0;
  uint64_t LastTime = 0;
  std::vector<TRect> PassedOver;  // small changes the last frame left unsent (KzSmallChangesToSend)
  TKzMotionDetector MotionDetector;
  TKzAreaCodec Codec;                   // the picture encoders (and decoders, to rebuild RealSendBt)
  std::vector<uint8_t> AData;           // the changed-area container
  std::vector<uint8_t> SingleImageStream;  // the whole-frame container
  // Names the state of the references and counters: items with the same
  // StateId hold the same pictures and may share one encoding per frame.
  uint64_t StateId;
  // The sender's view of the link that carried the last container (a
  // change means the receiver may have lost what was sent before).
  uint64_t LinkState = 0;

private:
  TCriticalSection CriticalSection;
  std::atomic<int32_t> CountLock{0};
};

// A StateId no item has had yet. Any thread.
uint64_t KzNewImageInfoState();

using TKzImageInfoPtr = std::shared_ptr<TKzImageInfo>;

class TKzImageInfoList {
public:
  // All: any thread; they take the list's lock briefly, the setters and
  // FinalizeRegion each item's lock too.
  TKzImageInfoPtr Add(const TGUID& GUID, uint16_t VideoIndex);
  // The item, created when missing.
  TKzImageInfoPtr GetImageInfo(const TGUID& GUID, uint16_t VideoIndex);
  int32_t IndexOf(const TGUID& GUID, uint16_t VideoIndex);
  // The first item of GUID at or after index From; -1 when none.
  int32_t IndexBy(const TGUID& GUID, int32_t From);
  int32_t Count();
  void Delete(const TGUID& GUID);
  void DeleteByVideoIndex(const TGUID& GUID, uint16_t VideoIndex);
  void Clear();

  void SetMinChangeAreaSize(int32_t Value);
  void SetMaxChangeAreaCount(int32_t Value);
  void SetChangedAreaProcessingMode(TKzChangedAreaProcessingMode Value);
  void SetPixelColorThreshold(int32_t Value);
  void SetPixelColorThresholdR(int32_t Value);
  void SetPixelColorThresholdG(int32_t Value);
  void SetPixelColorThresholdB(int32_t Value);
  void SetTestMode(TKzBoundsTestMode Value);
  // Every item's next frame goes out whole; or only those of one destination.
  void SetNeedSendFullFrame();
  void SetNeedSendFullFrameByGUID(const TGUID& GUID);
  void FinalizeRegion();

private:
  template <class T>
  void SetDetectorValue(T TKzMotionDetectorValues::*Field, T Value);
  TKzImageInfoPtr Find(const TGUID& GUID, uint16_t VideoIndex);
  std::vector<TKzImageInfoPtr> Items();

  std::mutex FLock;  // guards FItems and FValues
  std::vector<TKzImageInfoPtr> FItems;
  TKzMotionDetectorValues FValues;
};

}  // namespace kz
