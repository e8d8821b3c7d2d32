#include "sender/fmxMKzChangeEncoder.h"

#include <cmath>
#include <cstring>

#include "sender/fmxMKzLastingChanges.h"
#include "video/fmxMKzChangeContainer.h"
#include "video/fmxMKzSmooth3x3.h"

namespace kz {

namespace {

constexpr size_t kNoContainer = 15;  // a container this short carries nothing
constexpr int32_t kLossyMargin = 8;  // a JPEG block

bool Lossless(TKzAreaFormat Format) { return Format == TKzAreaFormat::kzafBMP || Format == TKzAreaFormat::kzafPNG; }

// What one more record costs beside its pixels: the record head and the
// picture's own header (JPEG: markers, quantisation and Huffman tables).
int64_t RecordHeadBytes(uint8_t Format) {
  switch (static_cast<TKzAreaFormat>(Format)) {
    case TKzAreaFormat::kzafHWL: return KZ_CHANGE_RECORD_HEAD + 40;
    case TKzAreaFormat::kzafBMP: return KZ_CHANGE_RECORD_HEAD + 54;
    case TKzAreaFormat::kzafPNG: return KZ_CHANGE_RECORD_HEAD + 60;
    default: return KZ_CHANGE_RECORD_HEAD + 420;  // JPEG with its own tables; mixed formats mostly choose it
  }
}

// An area at least 2 x 2 and inside the frame.
TRect AreaOf(int32_t x, int32_t y, int32_t w, int32_t h, int32_t FrameW, int32_t FrameH) {
  x = std::clamp(x, 0, FrameW), y = std::clamp(y, 0, FrameH);
  w = std::min(std::max(w, 2), FrameW), h = std::min(std::max(h, 2), FrameH);
  x = std::min(x, FrameW - w), y = std::min(y, FrameH - h);
  return TRect(x, y, x + w, y + h);
}

// A region's rectangle in whole pixels.
TRect AreaOf(const TKzRectF& R, int32_t FrameW, int32_t FrameH) {
  return AreaOf(static_cast<int32_t>(std::lround(R.Left)), static_cast<int32_t>(std::lround(R.Top)),
                static_cast<int32_t>(std::lround(R.Right - R.Left)), static_cast<int32_t>(std::lround(R.Bottom - R.Top)),
                FrameW, FrameH);
}

// The part of R in which New differs from Old at all (empty when nothing
// does): what lies around it the receiver already has.
TRect ChangedPart(const TKzMCustomBitmap& New, const TKzMCustomBitmap& Old, const TRect& R) {
  const size_t bytes = static_cast<size_t>(R.Width()) * 4;
  const auto rowDiffers = [&](int32_t y) { return memcmp(New.ScanLine(y) + R.Left, Old.ScanLine(y) + R.Left, bytes) != 0; };
  int32_t top = R.Top, bottom = R.Bottom;
  while (top < bottom && !rowDiffers(top)) ++top;
  while (bottom > top && !rowDiffers(bottom - 1)) --bottom;
  if (top == bottom) return TRect(0, 0, 0, 0);
  int32_t left = R.Right, right = R.Left;
  for (int32_t y = top; y < bottom; ++y) {
    const uint32_t *a = New.ScanLine(y), *b = Old.ScanLine(y);
    int32_t x = R.Left;
    while (x < left && a[x] == b[x]) ++x;
    left = x;
    x = R.Right;
    while (x > right && a[x - 1] == b[x - 1]) --x;
    right = x;
  }
  return TRect(left, top, right, bottom);
}

}  // namespace

void TKzChangeEncoder::PrepareReferences(const TKzMCustomBitmap& Frame, TKzImageInfo& Item) {
  Item.AData.clear();
  const int32_t w = Frame.Width(), h = Frame.Height();
  if (Item.OldSendBt->Width() == w && Item.OldSendBt->Height() == h) return;
  for (TKzSharedPicture* p : {&Item.OldSendBt, &Item.RealSendBt}) {
    TKzMBitmap& b = p->Fresh();
    b.SetSize(w, h);
    b.FillRect(TRect(0, 0, w, h), KzOpaqueBlack);
  }
  Item.MotionDetector.ForgetReference();
}

bool TKzChangeEncoder::SendImageEx(const TKzMCustomBitmap& Frame, TKzImageInfo& Item,
                                   const TKzChangeSettings& Settings) {
  Item.Lock();
  PrepareReferences(Frame, Item);
  const bool ok = BreakImage(Frame, Item, Settings);
  if (ok) {
    FGroup.assign(1, &Item);
    Deliver(Settings);
  }
  Item.Unlock();
  return ok;
}

TKzChangeEncoder::TState TKzChangeEncoder::StateOf(const TKzImageInfo& I) {
  return {I.StateId, I.IsNeedSendFullFrame, I.NumFrame, I.FullFrameCounter, I.FrameDifferenceCounter,
          I.OldWidth, I.OldHeight, I.LastTime};
}

int32_t TKzChangeEncoder::SendImageExShared(const TKzMCustomBitmap& Frame, const std::vector<TKzImageInfo*>& Items,
                                            const TKzChangeSettings& S) {
  std::vector<char> done(Items.size(), 0);
  int32_t encodings = 0;
  for (size_t i = 0; i < Items.size(); ++i) {
    if (done[i]) continue;
    TKzImageInfo& leader = *Items[i];
    leader.Lock();
    const TState before = StateOf(leader);
    PrepareReferences(Frame, leader);
    done[i] = 1;
    if (!BreakImage(Frame, leader, S)) {
      leader.Unlock();
      continue;
    }
    ++encodings;
    FGroup.assign(1, &leader);
    for (size_t j = i + 1; j < Items.size() && !FTest && FPlanned != TKzChangeSent::kzcsNotTaken; ++j) {
      if (done[j]) continue;
      TKzImageInfo& f = *Items[j];
      f.Lock();
      // A whole frame suits every destination whatever its state: one that
      // drifted apart (a refused container) rejoins the others with it.
      const bool same = StateOf(f) == before && Frame.Width() == f.OldSendBt->Width() &&
                        Frame.Height() == f.OldSendBt->Height();
      if (same || FPlanned == TKzChangeSent::kzcsWhole) {
        FGroup.push_back(&f);
        done[j] = 1;
      } else {
        f.Unlock();
      }
    }
    Deliver(S);
    for (size_t k = 1; k < FGroup.size(); ++k) FGroup[k]->Unlock();
    leader.Unlock();
  }
  return encodings;
}

void TKzChangeEncoder::Deliver(const TKzChangeSettings& S) {
  TKzImageInfo& maker = *FGroup[0];
  const bool sends = FPlanned == TKzChangeSent::kzcsWhole || FPlanned == TKzChangeSent::kzcsAreas;
  TKzImageInfo* owner = nullptr;
  FTook.assign(FGroup.size(), 0);
  for (size_t i = 0; i < FGroup.size(); ++i) {
    TKzImageInfo& g = *FGroup[i];
    FTook[i] = FPlanned == TKzChangeSent::kzcsNothing || (sends && SendContainer(g, *FContainer, FTime));
    if (!FTook[i]) {
      // A whole frame not taken: whatever asked for it still holds.
      if (FPlanned != TKzChangeSent::kzcsAreas) g.IsNeedSendFullFrame = true;
    } else if (!owner) {
      owner = &g;
    } else {
      // Let go before the owner writes, so that it copies only for those that keep the old pictures.
      g.OldSendBt.Clear();
      g.RealSendBt.Clear();
    }
  }
  FLastSent = FTook[0] ? FPlanned : TKzChangeSent::kzcsNotTaken;
  if (!owner) return;
  Apply(*owner, maker, S);
  for (size_t i = 0; i < FGroup.size(); ++i)
    if (FTook[i] && FGroup[i] != owner) Follow(*owner, *FGroup[i]);
}

void TKzChangeEncoder::Apply(TKzImageInfo& Item, const TKzImageInfo& Maker, const TKzChangeSettings& S) {
  const bool maker = &Item == &Maker;
  if (!maker) {
    Item.IsNeedSendFullFrame = false;
    Item.PassedOver = Maker.PassedOver;
    Item.OldWidth = Maker.OldWidth, Item.OldHeight = Maker.OldHeight;
    Item.LastTime = Maker.LastTime;
    Item.MotionDetector.ForgetReference();  // its detector did not see this frame
  }
  switch (FPlanned) {
    case TKzChangeSent::kzcsWhole:
      Item.OldSendBt.Fresh().AssignKzMBitmap(*FFrame);
      Item.MotionDetector.ForgetReference();
      Item.RealSendBt.Fresh().AssignKzMBitmap(*FFrame);
      ApplyShown(Item.RealSendBt.Own());  // lossy formats: the decoded picture
      Item.NumFrame = FNumber;
      Item.OldBufferSingleFrame = Maker.OldBufferSingleFrame;
      Item.PassedOver.clear();
      Item.ResetCounter();
      break;
    case TKzChangeSent::kzcsAreas:
      if (FTest) {
        Item.OldSendBt.Fresh().AssignKzMBitmap(*FFrame);
        Item.MotionDetector.ForgetReference();
      } else {
        TKzMBitmap& old = Item.OldSendBt.Own();
        for (size_t i = 0; i < FShownCount; ++i) {
          const TShown& a = FShown[i];
          const TRect r(a.X, a.Y, a.X + a.W, a.Y + a.H);
          old.CopyRect(r, *FFrame, r);
          if (maker) Item.MotionDetector.ReferenceChanged(old, r);
        }
      }
      ApplyShown(Item.RealSendBt.Own());
      break;
    default: return;
  }
  Item.IncCounter(S.FullFrameInterval, S.FrameDifferenceInterval);
  Item.StateId = KzNewImageInfoState();
}

void TKzChangeEncoder::Follow(const TKzImageInfo& Owner, TKzImageInfo& F) {
  F.OldSendBt.Share(Owner.OldSendBt);
  F.RealSendBt.Share(Owner.RealSendBt);
  F.NumFrame = Owner.NumFrame;
  F.OldBufferSingleFrame = Owner.OldBufferSingleFrame;
  F.IsNeedSendFullFrame = Owner.IsNeedSendFullFrame;
  F.FullFrameCounter = Owner.FullFrameCounter, F.FrameDifferenceCounter = Owner.FrameDifferenceCounter;
  F.OldWidth = Owner.OldWidth, F.OldHeight = Owner.OldHeight;
  F.LastTime = Owner.LastTime;
  F.PassedOver = Owner.PassedOver;
  F.MotionDetector.ForgetReference();  // its detector did not see this frame
  F.StateId = Owner.StateId;
}

bool TKzChangeEncoder::BreakImage(const TKzMCustomBitmap& Frame, TKzImageInfo& Item, const TKzChangeSettings& S) {
  FLastSent = FPlanned = TKzChangeSent::kzcsNothing;
  FLastAreas = 0;
  FShownCount = 0;
  FTest = false;
  const int32_t w = Frame.Width(), h = Frame.Height();
  if (w <= 0 || h <= 0 || w != Item.OldSendBt->Width() || h != Item.OldSendBt->Height()) return false;
  const int64_t t = FOutput.ChangeStartTime(), d = FOutput.ChangeDiffTime();
  const uint8_t n = Item.NumFrame;
  if (w != Item.OldWidth || h != Item.OldHeight) Item.IsNeedSendFullFrame = true;
  Item.OldWidth = w, Item.OldHeight = h;
  FFrame = &Frame;
  if (S.FilterBlur) {
    KzSmooth3x3(Frame, Item.BlurSendBt);
    FFrame = &Item.BlurSendBt;
  }
  FTime = t;
  const uint64_t now = FOutput.ChangeNow();
  const bool full = S.TestMode == TKzBoundsTestMode::kzstmNone &&
                    Item.IsSendFullImage(S.FullFrameInterval, S.FrameDifferenceInterval, now);
  bool test = false;
  const int32_t k = full ? 0 : BuildAreas(*FFrame, Item, S, t, d, test);
  FTest = test;
  FLastAreas = k;
  FNumber = static_cast<uint8_t>((n + 1) % KZ_CHANGE_FRAME_NUMBERS);
  const bool whole = full || (k >= 1 && static_cast<int64_t>(Item.AData.size()) > Item.OldBufferSingleFrame);
  if (!test && whole) {
    FPlanned = BuildWhole(*FFrame, Item, S, t, d, FNumber) ? TKzChangeSent::kzcsWhole : TKzChangeSent::kzcsNotTaken;
    FContainer = &Item.SingleImageStream;
  } else if (Item.AData.size() > kNoContainer && k > 0) {
    FPlanned = TKzChangeSent::kzcsAreas;
    FContainer = &Item.AData;
  }
  Item.LastTime = now;
  return true;
}

int32_t TKzChangeEncoder::BuildAreas(const TKzMCustomBitmap& New, TKzImageInfo& Item, const TKzChangeSettings& S,
                                     int64_t T, int64_t D, bool& Test) {
  FShownCount = 0;
  KzChangeBegin(Item.AData, New.Width(), New.Height(), T, D, Item.NumFrame);
  std::unique_ptr<TKzMBitmap> testImg;
  int32_t k = Item.MotionDetector.DetectChanges(New, *Item.OldSendBt, &testImg);
  if (testImg) {
    Test = true;
    k = AddToBufferSingle(*testImg, Item, Item.AData, S) ? 1 : 0;
  } else {
    const int32_t slots = k;
    FAreas.clear();
    for (int32_t i = 0; i < slots; ++i)
      if (Item.MotionDetector.IsRectValid(i))
        FAreas.push_back(AreaOf(Item.MotionDetector.GetRect(i), New.Width(), New.Height()));
    const int32_t budget = Item.MotionDetector.MaxChangeAreaCount() - static_cast<int32_t>(FAreas.size());
    for (const TRect& r : KzSmallChangesToSend(Item.MotionDetector, New.Width(), New.Height(), FAreas, budget,
                                                Item.PassedOver))
      FAreas.push_back(AreaOf(r.Left, r.Top, r.Width(), r.Height(), New.Width(), New.Height()));
    // Only what really changed goes out; an area with nothing changed goes
    // not at all. Lossy pictures keep a margin of one block around
    // it, so that the blur an earlier picture left there is drawn over too.
    const uint8_t format = KzAreaFormatOf(S.Encoding);
    const int32_t margin = format && Lossless(static_cast<TKzAreaFormat>(format)) ? 0 : kLossyMargin;
    size_t kept = 0;
    for (const TRect& r : FAreas) {
      const TRect c = ChangedPart(New, *Item.OldSendBt, r);
      if (c.IsEmpty()) continue;
      const TRect m(std::max(r.Left, c.Left - margin), std::max(r.Top, c.Top - margin),
                    std::min(r.Right, c.Right + margin), std::min(r.Bottom, c.Bottom + margin));
      FAreas[kept++] = AreaOf(m.Left, m.Top, m.Width(), m.Height(), New.Width(), New.Height());
    }
    FAreas.resize(kept);
    k = static_cast<int32_t>(FAreas.size());
    // The last whole frame tells what a pixel of this picture costs.
    if (Item.OldBufferSingleFrame > 0 && FAreas.size() > 1)
      KzJoinCheaperAreas(FAreas, double(Item.OldBufferSingleFrame) / (double(New.Width()) * New.Height()),
                         RecordHeadBytes(format));
    for (const TRect& r : FAreas)
      if (!AddToBuffer(New, Item, S, r.Left, r.Top, r.Width(), r.Height(),
                       static_cast<uint16_t>(Item.FrameDifferenceCounter))) {
        Item.AData.clear();  // an area that cannot be coded: this frame sends nothing of its areas
        FShownCount = 0;
        return 0;
      }
  }
  KzChangeFinish(Item.AData);
  return k;
}

bool TKzChangeEncoder::AddToBuffer(const TKzMCustomBitmap& New, TKzImageInfo& Item, const TKzChangeSettings& S,
                                   int32_t X, int32_t Y, int32_t W, int32_t H, uint16_t F) {
  if (W < 2 || H < 2) return true;
  if (F == 0)
    KzCopyArea(New, X, Y, W, H, FArea);
  else
    KzMakeDifferencePicture(New, *Item.RealSendBt, X, Y, W, H, FArea);
  return DoAddImageToBuffer(FArea, Item, Item.AData, S, X, Y, F);
}

bool TKzChangeEncoder::AddToBufferSingle(const TKzMCustomBitmap& Picture, TKzImageInfo& Item,
                                         std::vector<uint8_t>& Out, const TKzChangeSettings& S) {
  if (Picture.Width() < 2 || Picture.Height() < 2) return true;
  FArea.AssignKzMBitmap(Picture);
  return DoAddImageToBuffer(FArea, Item, Out, S, 0, 0, 0);
}

bool TKzChangeEncoder::DoAddImageToBuffer(TKzMBitmap& Picture, TKzImageInfo& Item, std::vector<uint8_t>& Out,
                                          const TKzChangeSettings& S, int32_t X, int32_t Y, uint16_t F) {
  const int32_t w = Picture.Width(), h = Picture.Height();
  const uint8_t fixed = KzAreaFormatOf(S.Encoding);
  TKzAreaFormat format = fixed ? static_cast<TKzAreaFormat>(fixed) : TKzAreaFormat::kzafJPEG;
  const size_t at = KzChangeBeginRecord(Out, X, Y, w, h, format, F);
  const bool ok = fixed ? Item.Codec.Encode(format, Picture, S.Quality, Out)
                        : Item.Codec.EncodeBestSize(Picture, S.Quality, Out, format);
  if (!ok) {
    KzChangeDropRecord(Out, at);
    return false;
  }
  Out[at + 8] = static_cast<uint8_t>(format);
  const size_t picture = at + KZ_CHANGE_RECORD_HEAD;
  if (FShown.size() <= FShownCount) FShown.resize(FShownCount + 1);
  TShown& shown = FShown[FShownCount];
  shown.X = X, shown.Y = Y, shown.W = w, shown.H = h, shown.F = F;
  // What the receiver will decode: the same pixels for the lossless formats.
  if (Lossless(format))
    shown.Picture.SwapPixels(Picture);
  else if (!Item.Codec.Decode(static_cast<uint8_t>(format), Out.data() + picture, Out.size() - picture,
                              shown.Picture)) {
    KzChangeDropRecord(Out, at);
    return false;
  }
  ++FShownCount;
  std::vector<uint8_t> bytes(Out.begin() + static_cast<std::ptrdiff_t>(picture), Out.end());
  const size_t before = bytes.size();
  FOutput.ChangeEncoded(bytes, Item.VideoIndex);
  if (bytes.size() != before || !std::equal(bytes.begin(), bytes.end(), Out.begin() + static_cast<std::ptrdiff_t>(picture))) {
    Out.resize(picture);
    Out.insert(Out.end(), bytes.begin(), bytes.end());
  }
  KzChangeEndRecord(Out, at);
  return true;
}

bool TKzChangeEncoder::BuildWhole(const TKzMCustomBitmap& New, TKzImageInfo& Item, const TKzChangeSettings& S,
                                  int64_t T, int64_t D, uint8_t N) {
  FShownCount = 0;
  std::vector<uint8_t>& out = Item.SingleImageStream;
  KzChangeBegin(out, New.Width(), New.Height(), T, D, N);
  if (!AddToBufferSingle(New, Item, out, S)) return false;
  KzChangeFinish(out);
  Item.OldBufferSingleFrame = static_cast<int64_t>(out.size());
  return true;
}

bool TKzChangeEncoder::SendContainer(TKzImageInfo& Item, const std::vector<uint8_t>& Container, int64_t T) {
  return FOutput.ChangeSend(Item, Container, T);
}

void TKzChangeEncoder::ApplyShown(TKzMCustomBitmap& Target) {
  for (size_t i = 0; i < FShownCount; ++i) {
    const TShown& s = FShown[i];
    if (s.F == 0)
      KzPasteAreaPicture(Target, s.X, s.Y, s.W, s.H, s.Picture);
    else
      KzAddDifferencePicture(Target, s.X, s.Y, s.W, s.H, s.Picture);
  }
}

}  // namespace kz
