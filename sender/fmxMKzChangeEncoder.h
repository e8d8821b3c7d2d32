// The sender's changed-area encoding for one destination: per frame it
// finds the rectangles that changed since the last frame taken for that
// destination, sends them as a changed-area container (or the whole frame
// when one is due or cheaper), and keeps the destination's references
// (OldSendBt, RealSendBt) in step with what the receiver was really given:
// a container that is not handed over changes nothing.
//
// The output (the sender) gives the clock and the channel. Called on the
// sender's encoding thread; blocks only on the item's lock.
#pragma once
#include <cstdint>
#include <vector>

#include "sender/fmxMKzImageInfo.h"

namespace kz {

struct TKzChangeSettings {
  TKzEncodingType Encoding = TKzEncodingType::kzetJPEGChange;
  int32_t Quality = 90;
  uint32_t FullFrameInterval = 25;
  uint16_t FrameDifferenceInterval = 0;
  bool FilterBlur = false;
  TKzBoundsTestMode TestMode = TKzBoundsTestMode::kzstmNone;
};

class IKzChangeOutput {
public:
  virtual ~IKzChangeOutput() = default;
  virtual int64_t ChangeStartTime() = 0;  // GetTickCountSinceStart
  virtual int64_t ChangeDiffTime() = 0;   // GetDiffTickCountVideo
  virtual uint64_t ChangeNow() = 0;       // tick count of the pause rule
  // May rewrite an encoded picture (the sender's OnEncodeVideo).
  virtual void ChangeEncoded(std::vector<uint8_t>& Picture, uint16_t VideoIndex) { (void)Picture, (void)VideoIndex; }
  // Hands a finished container to the destination; false when it was not taken.
  virtual bool ChangeSend(TKzImageInfo& Item, const std::vector<uint8_t>& Container, int64_t StartTime) = 0;
};

// What one frame sent.
enum class TKzChangeSent : uint8_t { kzcsNothing = 0, kzcsAreas = 1, kzcsWhole = 2, kzcsNotTaken = 3 };

class TKzChangeEncoder {
public:
  explicit TKzChangeEncoder(IKzChangeOutput& Output) : FOutput(Output) {}

  // One frame for one destination: resizes the references on a size
  // change, then BreakImage and the hand-over under the item's lock. False
  // for an empty frame.
  bool SendImageEx(const TKzMCustomBitmap& Frame, TKzImageInfo& Item, const TKzChangeSettings& Settings);
  // The same frame for several destinations: destinations whose items are
  // in the same state (same references, frame number and counters), and
  // those that are due a whole frame, share one detection and one encoding;
  // each still gets the container on its own channel, and one whose channel
  // does not take it keeps its state. Those that took it hold their
  // references together from then on (one copy, however many). Returns the
  // number of encodings made.
  int32_t SendImageExShared(const TKzMCustomBitmap& Frame, const std::vector<TKzImageInfo*>& Items,
                            const TKzChangeSettings& Settings);
  TKzChangeSent LastSent() const { return FLastSent; }
  int32_t LastAreas() const { return FLastAreas; }

private:
  // A picture the receiver will draw at a record: what RealSendBt takes
  // once the container has been handed over.
  struct TShown {
    int32_t X, Y, W, H;
    uint16_t F;
    TKzMBitmap Picture;
  };

  // What decides whether two items may share a frame's work.
  struct TState {
    uint64_t StateId;
    bool IsNeedSendFullFrame;
    uint8_t NumFrame;
    uint32_t FullFrameCounter, FrameDifferenceCounter;
    int32_t OldWidth, OldHeight;
    uint64_t LastTime;
    bool operator==(const TState&) const = default;
  };
  static TState StateOf(const TKzImageInfo& Item);
  static void PrepareReferences(const TKzMCustomBitmap& Frame, TKzImageInfo& Item);
  // Builds the frame's container against Item's references (FPlanned says
  // which, FContainer holds it); changes no reference. False for a frame
  // that cannot be used.
  bool BreakImage(const TKzMCustomBitmap& New, TKzImageInfo& Item, const TKzChangeSettings& S);
  // Hands the container to every item of FGroup (FGroup[0] made it): the
  // first that takes it brings its references up to date, the others that
  // take it share them; those that do not keep theirs.
  void Deliver(const TKzChangeSettings& S);
  // Item's references and counters after taking the container Maker made.
  void Apply(TKzImageInfo& Item, const TKzImageInfo& Maker, const TKzChangeSettings& S);
  // Follower holds what Owner holds after the same container.
  static void Follow(const TKzImageInfo& Owner, TKzImageInfo& Follower);
  // The changed-area container of New into Item.AData; the number of regions.
  int32_t BuildAreas(const TKzMCustomBitmap& New, TKzImageInfo& Item, const TKzChangeSettings& S, int64_t T,
                     int64_t D, bool& Test);
  // One record of the W x H area at (X, Y): its pixels (F = 0) or its difference against RealSendBt.
  bool AddToBuffer(const TKzMCustomBitmap& New, TKzImageInfo& Item, const TKzChangeSettings& S, int32_t X,
                   int32_t Y, int32_t W, int32_t H, uint16_t F);
  // One record holding the whole Picture.
  bool AddToBufferSingle(const TKzMCustomBitmap& Picture, TKzImageInfo& Item, std::vector<uint8_t>& Out,
                         const TKzChangeSettings& S);
  // Encodes Picture after a record head begun at RecordAt and closes the record.
  bool DoAddImageToBuffer(TKzMBitmap& Picture, TKzImageInfo& Item, std::vector<uint8_t>& Out,
                          const TKzChangeSettings& S, int32_t X, int32_t Y, uint16_t F);
  // The whole-frame container of New (frame number N) into Item.SingleImageStream.
  bool BuildWhole(const TKzMCustomBitmap& New, TKzImageInfo& Item, const TKzChangeSettings& S, int64_t T, int64_t D,
                  uint8_t N);
  bool SendContainer(TKzImageInfo& Item, const std::vector<uint8_t>& Container, int64_t T);
  // Draws the shown pictures into Target as a receiver does.
  void ApplyShown(TKzMCustomBitmap& Target);

  IKzChangeOutput& FOutput;
  std::vector<TShown> FShown;
  size_t FShownCount = 0;
  TKzMBitmap FArea;
  std::vector<TRect> FAreas;  // the areas of the frame being built
  // The frame being handed over: what was built, from which picture, for whom.
  TKzChangeSent FPlanned = TKzChangeSent::kzcsNothing;
  const TKzMCustomBitmap* FFrame = nullptr;
  const std::vector<uint8_t>* FContainer = nullptr;
  uint8_t FNumber = 0;  // the frame number of a whole frame
  int64_t FTime = 0;
  std::vector<TKzImageInfo*> FGroup;
  std::vector<char> FTook;
  bool FTest = false;
  TKzChangeSent FLastSent = TKzChangeSent::kzcsNothing;
  int32_t FLastAreas = 0;
};

}  // namespace kz
