// The motion detector: compares each new frame with a reference frame and
// reports the rectangles in which the picture changed.
//
// The work is done on a reduced copy of the frames (at most 320 pixels on
// the longer side) unless the processing mode asks for the full size. Per
// frame: pixels are classified as changed or unchanged by colour
// thresholds, changed pixels are labelled in one raster pass, the label
// boxes are joined, small ones dropped, the rest grown to a minimum size and
// merged, scaled back to the frame and joined with the regions of the
// previous frame, so that a region stays reported for one frame after its
// motion stopped.
//
// A detector belongs to one draw thread, which calls DetectChanges once per
// frame and reads the regions before the next one. Its settings may be
// changed from any thread (usually the main thread, through the properties
// objects); DetectChanges picks them up at the start of the next frame.
#pragma once
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "foundation/fmxMKzBitmap.h"
#include "video/fmxMKzVideoEvents.h"

namespace kz {

enum class TKzChangedAreaProcessingMode : uint8_t {
  kzcapmOriginalSize = 0,  // work on the frame at full size
  kzcapmAuto = 1,          // work on a reduced copy
};

enum class TKzBoundsTestMode : uint8_t {
  kzstmNone = 0,
  kzstmChangedFragments = 1,  // test picture: the changed pixels on black
  kzstmRectangles = 2,        // test picture: the frame, unchanged pixels dimmed
};

// A region box. Right and bottom are exclusive: the pixel (x, y) has the box
// (x, y, x + 1, y + 1).
struct TKzRectF {
  float Left = 0;
  float Top = 0;
  float Right = 0;
  float Bottom = 0;

  float Width() const { return Right - Left; }
  float Height() const { return Bottom - Top; }
  // Empty: right < left, bottom < top, or a single point. A box of zero
  // width but some height is not empty.
  bool IsEmpty() const { return Right < Left || Bottom < Top || (Right == Left && Bottom == Top); }
  bool operator==(const TKzRectF&) const = default;
};

// Rectangles are drawn in opaque red on the test pictures.
constexpr uint32_t KzMotionTestRectangleColor = 0xFFFF0000u;

// The nine published detector settings, shared by the properties objects
// and the per-source detection regions. Defaults are the library's.
struct TKzMotionDetectorValues {
  bool SearchRegion = false;
  int32_t MinChangeAreaSize = 10;
  int32_t MaxChangeAreaCount = 30;
  TKzChangedAreaProcessingMode ChangedAreaProcessingMode = TKzChangedAreaProcessingMode::kzcapmAuto;
  int32_t PixelColorThreshold = 8;
  int32_t PixelColorThresholdR = 8;
  int32_t PixelColorThresholdG = 8;
  int32_t PixelColorThresholdB = 8;
  TKzBoundsTestMode TestMode = TKzBoundsTestMode::kzstmNone;
  bool operator==(const TKzMotionDetectorValues&) const = default;
};

// The nine settings as published properties of Derived, which provides
// Values() (a copy of all nine) and SetValue(Field, Value) (stores one and
// reports the change). Thread rules are Derived's.
template <class Derived>
class TKzMotionDetectorSettings {
public:
  bool SearchRegion() const { return Get().SearchRegion; }
  void SetSearchRegion(bool Value) { Put(&TKzMotionDetectorValues::SearchRegion, Value); }
  int32_t MinChangeAreaSize() const { return Get().MinChangeAreaSize; }
  void SetMinChangeAreaSize(int32_t Value) { Put(&TKzMotionDetectorValues::MinChangeAreaSize, Value); }
  int32_t MaxChangeAreaCount() const { return Get().MaxChangeAreaCount; }
  void SetMaxChangeAreaCount(int32_t Value) { Put(&TKzMotionDetectorValues::MaxChangeAreaCount, Value); }
  TKzChangedAreaProcessingMode ChangedAreaProcessingMode() const { return Get().ChangedAreaProcessingMode; }
  void SetChangedAreaProcessingMode(TKzChangedAreaProcessingMode Value) {
    Put(&TKzMotionDetectorValues::ChangedAreaProcessingMode, Value);
  }
  int32_t PixelColorThreshold() const { return Get().PixelColorThreshold; }
  void SetPixelColorThreshold(int32_t Value) { Put(&TKzMotionDetectorValues::PixelColorThreshold, Value); }
  int32_t PixelColorThresholdR() const { return Get().PixelColorThresholdR; }
  void SetPixelColorThresholdR(int32_t Value) { Put(&TKzMotionDetectorValues::PixelColorThresholdR, Value); }
  int32_t PixelColorThresholdG() const { return Get().PixelColorThresholdG; }
  void SetPixelColorThresholdG(int32_t Value) { Put(&TKzMotionDetectorValues::PixelColorThresholdG, Value); }
  int32_t PixelColorThresholdB() const { return Get().PixelColorThresholdB; }
  void SetPixelColorThresholdB(int32_t Value) { Put(&TKzMotionDetectorValues::PixelColorThresholdB, Value); }
  TKzBoundsTestMode TestMode() const { return Get().TestMode; }
  void SetTestMode(TKzBoundsTestMode Value) { Put(&TKzMotionDetectorValues::TestMode, Value); }

private:
  TKzMotionDetectorValues Get() const { return static_cast<const Derived&>(*this).Values(); }
  template <class T>
  void Put(T TKzMotionDetectorValues::*Field, T Value) {
    static_cast<Derived&>(*this).SetValue(Field, Value);
  }
};

class TKzMotionDetector {
public:
  // Any thread, never blocks.
  TKzMotionDetector();
  TKzMotionDetector(const TKzMotionDetector&) = delete;
  TKzMotionDetector& operator=(const TKzMotionDetector&) = delete;

  // Compares NewImg with OldImg, the reference frame, and returns the number
  // of region slots of this frame (read them with GetRect and IsRectValid).
  // In a test mode the count is 1 (slot 0 is the whole frame) and the test
  // picture goes to *TestImg, or is kept as LastTestImage when TestImg is
  // null.
  // Owning draw thread; never blocks (takes the settings lock briefly).
  int32_t DetectChanges(const TKzMCustomBitmap& NewImg, const TKzMCustomBitmap& OldImg,
                        std::unique_ptr<TKzMBitmap>* TestImg = nullptr);

  // ---- Regions of the last frame. Owning draw thread, never block.
  int32_t RectCount() const { return static_cast<int32_t>(bd_ext.size()); }
  // The box of slot Index in the coordinates of the full frame; an empty
  // box for an index out of range.
  TKzRectF GetRect(int32_t Index) const;
  // The slot holds a region (slots emptied by merging do not).
  bool IsRectValid(int32_t Index) const;
  // The valid regions of the last frame, in slot order.
  std::vector<TKzRectF> ValidRects() const;

  // Brings the draw thread's Reference up to date with Frame after
  // DetectChanges: after a test-mode frame Reference becomes the whole
  // Frame; otherwise only the valid regions are copied in, clipped to
  // Reference. In full-size mode a Reference that does not have the frame's
  // size (the first frame, or a size change) is seeded with the whole Frame
  // so that detection can begin. Owning draw thread, never blocks.
  void UpdateReferenceImage(const TKzMCustomBitmap& Frame, TKzMCustomBitmap& Reference) const;

  // ---- Settings. Any thread; never block (short lock).
  int32_t PixelColorThreshold() const;
  // Average-difference threshold; a negative value selects the per-channel ones.
  void SetPixelColorThreshold(int32_t Value);
  // The R, G and B thresholds apply to the first, second and third byte of a
  // pixel, in that order.
  int32_t PixelColorThresholdR() const;
  void SetPixelColorThresholdR(int32_t Value);
  int32_t PixelColorThresholdG() const;
  void SetPixelColorThresholdG(int32_t Value);
  int32_t PixelColorThresholdB() const;
  void SetPixelColorThresholdB(int32_t Value);
  // Regions whose box area is at most this are dropped.
  int32_t MinChangeAreaSize() const;
  void SetMinChangeAreaSize(int32_t Value);
  // More regions than this collapse into one covering the frame.
  int32_t MaxChangeAreaCount() const;
  void SetMaxChangeAreaCount(int32_t Value);
  TKzChangedAreaProcessingMode ChangedAreaProcessingMode() const;
  // Stores the mode; the working copies are re-made before the next frame.
  void SetChangedAreaProcessingMode(TKzChangedAreaProcessingMode Mode);
  TKzBoundsTestMode TestMode() const;
  // Stores the mode and forgets the regions of the previous frame.
  void SetTestMode(TKzBoundsTestMode Mode);
  uint32_t TestModeRectangleColor() const;
  void SetTestModeRectangleColor(uint32_t Color);
  bool NeedResizeArea() const;
  // Set: the working copies are re-made before the next frame.
  void SetNeedResizeArea(bool Value);
  // Reduced mode compares with the previous frame's reduced copy; set, it
  // reduces OldImg every frame instead, so that changes never taken into
  // OldImg keep being found (a sender comparing with what it sent). Owning thread.
  void SetReduceReferenceEachFrame(bool Value) { FReduceReferenceEachFrame = Value; }
  // With the above: the owner reports every change of OldImg (ReferenceChanged,
  // ForgetReference), so the reduced reference is redone only where OldImg
  // changed instead of every frame. Owning thread.
  void SetReferenceKeptInStep(bool Value) { FReferenceInStep = Value; }
  // Area (frame pixels) of OldImg changed since the last frame.
  void ReferenceChanged(const TKzMCustomBitmap& OldImg, const TRect& Area);
  // OldImg changed as a whole: the next frame reduces it again.
  void ForgetReference() { FReferenceValid = false; }
  // Copies the detector settings (all but SearchRegion) of Values. The test
  // mode is stored only when it differs, so that changing another setting
  // does not forget the previous frame's regions.
  void ApplyValues(const TKzMotionDetectorValues& Values);

  // ---- Working memory. Owning draw thread, never block.
  // Reduced mode: makes the reduced working copies if they do not exist;
  // full-size mode: frees them.
  void ResizeArea(int32_t Width, int32_t Height);
  // Frees the working memory and the regions; the next frame starts afresh.
  // Owning draw thread, or any thread while that one does not use the detector.
  void FinalizeRegion();

  // The reference frame the draw thread keeps for this detector.
  TKzMBitmap oImg;

  // ---- Inspection of the last frame (tools and tests). Owning draw thread.
  int32_t WorkWidth() const { return FWorkW; }
  int32_t WorkHeight() const { return FWorkH; }
  // Classification of working pixel (X, Y): true when it changed.
  bool IsPixelChanged(int32_t X, int32_t Y) const { return Labels[static_cast<size_t>(Y) * FWorkW + X] >= 0; }
  // The label boxes after labelling (before selection), working coordinates.
  std::vector<TKzRectF> LabelBoxes() const;
  // The reduced copies of the new and the reference frame; null in full-size mode.
  const TKzMBitmap* ReducedNew() const { return nImgS.get(); }
  const TKzMBitmap* ReducedOld() const { return oImgS.get(); }
  // The test picture of the last test-mode frame; null otherwise.
  const TKzMBitmap* LastTestImage() const { return FLastTestImage.get(); }

private:
  // A box in working pixels; right and bottom exclusive; Right < Left when emptied.
  struct TBox {
    int32_t Left, Top, Right, Bottom;
    bool Live() const { return Right >= Left; }
    int64_t Area() const { return static_cast<int64_t>(Right - Left) * (Bottom - Top); }
  };
  // What one frame runs with (a copy taken under the settings lock).
  struct TSettings {
    int32_t PixelColorThreshold, PixelColorThresholdR, PixelColorThresholdG, PixelColorThresholdB;
    int32_t MinChangeAreaSize, MaxChangeAreaCount;
    TKzChangedAreaProcessingMode Mode;
    TKzBoundsTestMode TestMode;
    uint32_t RectangleColor;
  };

  TSettings TakeSettings(bool& Resize, bool& ForgetOldRects);
  // Step 3: the working images; false when the frame cannot be compared.
  bool PrepareWorkingImages(const TSettings& S, const TKzMCustomBitmap& NewImg, const TKzMCustomBitmap& OldImg,
                            const TKzMCustomBitmap*& WorkNew, const TKzMCustomBitmap*& WorkOld);
  void Classify(const TSettings& S, const TKzMCustomBitmap& WorkNew, const TKzMCustomBitmap& WorkOld);
  void PaintTestImage(TKzBoundsTestMode Mode, const TKzMCustomBitmap& WorkNew, TKzMBitmap& Test) const;
  void LabelChangedPixels();
  void SelectRegions(const TSettings& S, int32_t Grow);
  void ResizeWorkingCopies(TKzChangedAreaProcessingMode Mode);
  static void MergeRegions(std::vector<TBox>& Boxes);
  void ScaleRegions(int32_t FrameW, int32_t FrameH);
  void RememberOldRects();

  // Settings, guarded by FSettingsLock (set from any thread).
  mutable std::mutex FSettingsLock;
  int32_t FPixelColorThreshold = 8;
  int32_t FPixelColorThresholdR = 8;
  int32_t FPixelColorThresholdG = 8;
  int32_t FPixelColorThresholdB = 8;
  int32_t FMinChangeAreaSize = 10;
  int32_t FMaxChangeAreaCount = 30;
  TKzChangedAreaProcessingMode FChangedAreaProcessingMode = TKzChangedAreaProcessingMode::kzcapmAuto;
  TKzBoundsTestMode FTestMode = TKzBoundsTestMode::kzstmNone;
  uint32_t FTestMode_RectangleColor = KzMotionTestRectangleColor;
  bool FNeedResizeArea = true;
  bool FForgetOldRects = false;

  // Frame state: owning draw thread only.
  int32_t OldCountRect = 0;
  int32_t OldW = -1, OldH = -1;      // size the working arrays were prepared for
  int32_t OldW_s = -1, OldH_s = -1;  // reduced size used last
  int32_t FFrameW = -1, FFrameH = -1;
  int32_t FWorkW = 0, FWorkH = 0;
  std::unique_ptr<TKzMBitmap> nImgS, oImgS;
  std::vector<int32_t> Labels;  // -1 unchanged, 0 changed, >= 1 label
  int32_t countObj = 0;
  std::vector<TBox> bd;        // label boxes; after labelling the first countObj are the live ones
  std::vector<TBox> tmpRect;   // this frame's regions in working pixels
  std::vector<TKzRectF> bd_ext;  // the region slots reported
  std::vector<TKzRectF> OldRect; // this frame's regions, kept for the next
  TKzChangedAreaProcessingMode FLastMode = TKzChangedAreaProcessingMode::kzcapmAuto;
  TKzBoundsTestMode FLastTestMode = TKzBoundsTestMode::kzstmNone;
  bool FDetected = false;
  bool FReduceReferenceEachFrame = false;
  bool FReferenceInStep = false;
  bool FReferenceValid = false;  // oImgS is the reduced OldImg (kept in step)
  std::unique_ptr<TKzMBitmap> FLastTestImage;
};

}  // namespace kz
