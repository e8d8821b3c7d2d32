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
  if (Item.BlurSendBt.Width() == w && Item.BlurSendBt.Height() == h) return;
  Item.BlurSendBt.SetSize(w, h);
  Item.BlurSendBt.FillData(0xFF);
  Item.OldSendBt.SetSize(w, h);
  Item.OldSendBt.FillRect(TRect(0, 0, w, h), KzOpaqueBlack);
  Item.RealSendBt.SetSize(w, h);
  Item.RealSendBt.FillRect(TRect(0, 0, w, h), KzOpaqueBlack);
  Item.MotionDetector.ForgetReference();
}

bool TKzChangeEncoder::SendImageEx(const TKzMCustomBitmap& Frame, TKzImageInfo& Item,
                                   const TKzChangeSettings& Settings) {
  Item.Lock();
  PrepareReferences(Frame, Item);
  const bool ok = BreakImage(Frame, Item, Settings);
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
    BreakImage(Frame, leader, S);
    ++encodings;
    done[i] = 1;
    const TKzChangeSent sent = FLastSent;
    const int32_t areas = FLastAreas;
    for (size_t j = i + 1; j < Items.size() && !FTest && sent != TKzChangeSent::kzcsNotTaken; ++j) {
      if (done[j]) continue;
      TKzImageInfo& f = *Items[j];
      f.Lock();
      // A whole frame suits every destination whatever its state: one that
      // drifted apart (a refused container) rejoins the others with it.
      const bool same = StateOf(f) == before && Frame.Width() == f.BlurSendBt.Width() &&
                        Frame.Height() == f.BlurSendBt.Height();
      const bool wholeToo = sent == TKzChangeSent::kzcsWhole && !same;
      if (same || wholeToo) {
        if (wholeToo) PrepareReferences(Frame, f);
        done[j] = Follow(leader, f, S);
      }
      f.Unlock();
    }
    FLastSent = sent, FLastAreas = areas;
    leader.Unlock();
  }
  return encodings;
}

bool TKzChangeEncoder::Follow(TKzImageInfo& Leader, TKzImageInfo& F, const TKzChangeSettings& S) {
  switch (FLastSent) {
    case TKzChangeSent::kzcsNothing: break;
    case TKzChangeSent::kzcsWhole:
      if (!SendContainer(F, Leader.SingleImageStream, 0)) return false;
      F.OldSendBt.AssignKzMBitmap(Leader.OldSendBt);
      F.RealSendBt.AssignKzMBitmap(Leader.RealSendBt);
      F.NumFrame = Leader.NumFrame;
      F.OldBufferSingleFrame = Leader.OldBufferSingleFrame;
      F.ResetCounter();
      F.IncCounter(S.FullFrameInterval, S.FrameDifferenceInterval);
      break;
    case TKzChangeSent::kzcsAreas:
      if (!SendContainer(F, Leader.AData, 0)) return false;
      // F held what Leader held: the leader's pictures are F's in the areas.
      for (size_t i = 0; i < FShownCount; ++i) {
        const TShown& a = FShown[i];
        const TRect r(a.X, a.Y, a.X + a.W, a.Y + a.H);
        F.OldSendBt.CopyRect(r, Leader.OldSendBt, r);
        F.RealSendBt.CopyRect(r, Leader.RealSendBt, r);
      }
      F.IncCounter(S.FullFrameInterval, S.FrameDifferenceInterval);
      break;
    case TKzChangeSent::kzcsNotTaken: return false;
  }
  F.IsNeedSendFullFrame = false;
  F.PassedOver = Leader.PassedOver;
  F.MotionDetector.ForgetReference();  // its detector did not see this frame
  F.OldWidth = Leader.OldWidth, F.OldHeight = Leader.OldHeight;
  F.LastTime = Leader.LastTime;
  F.StateId = Leader.StateId;
  return true;
}

bool TKzChangeEncoder::BreakImage(const TKzMCustomBitmap& Frame, TKzImageInfo& Item, const TKzChangeSettings& S) {
  FLastSent = TKzChangeSent::kzcsNothing;
  FLastAreas = 0;
  FTest = false;
  const int32_t w = Frame.Width(), h = Frame.Height();
  if (w <= 0 || h <= 0 || w != Item.OldSendBt.Width() || h != Item.OldSendBt.Height()) return false;
  const int64_t t = FOutput.ChangeStartTime(), d = FOutput.ChangeDiffTime();
  const uint8_t n = Item.NumFrame;
  if (w != Item.OldWidth || h != Item.OldHeight) Item.IsNeedSendFullFrame = true;
  Item.OldWidth = w, Item.OldHeight = h;
  const TKzMCustomBitmap* frame = &Frame;
  if (S.FilterBlur) {
    KzSmooth3x3(Frame, Item.BlurSendBt);
    frame = &Item.BlurSendBt;
  }
  const uint64_t now = FOutput.ChangeNow();
  const bool full = S.TestMode == TKzBoundsTestMode::kzstmNone &&
                    Item.IsSendFullImage(S.FullFrameInterval, S.FrameDifferenceInterval, now);
  bool test = false;
  const int32_t k = full ? 0 : BuildAreas(*frame, Item, S, t, d, test);
  FTest = test;
  FLastAreas = k;
  const uint8_t next = static_cast<uint8_t>((n + 1) % KZ_CHANGE_FRAME_NUMBERS);
  const bool whole = full || (k >= 1 && static_cast<int64_t>(Item.AData.size()) > Item.OldBufferSingleFrame);
  if (!test && whole) {
    if (SendWhole(*frame, Item, S, t, d, next)) {
      FLastSent = TKzChangeSent::kzcsWhole;
    } else {
      FLastSent = TKzChangeSent::kzcsNotTaken;
      Item.IsNeedSendFullFrame = true;  // whatever asked for it still holds
    }
  } else if (Item.AData.size() > kNoContainer && k > 0) {
    if (SendContainer(Item, Item.AData, t)) {
      FLastSent = TKzChangeSent::kzcsAreas;
      if (test) {
        Item.OldSendBt.AssignKzMBitmap(*frame);
        Item.MotionDetector.ForgetReference();
      } else {
        for (size_t i = 0; i < FShownCount; ++i) {
          const TShown& a = FShown[i];
          const TRect r(a.X, a.Y, a.X + a.W, a.Y + a.H);
          Item.OldSendBt.CopyRect(r, *frame, r);
          Item.MotionDetector.ReferenceChanged(Item.OldSendBt, r);
        }
      }
      ApplyShown(Item.RealSendBt);
      Item.IncCounter(S.FullFrameInterval, S.FrameDifferenceInterval);
      Item.StateId = KzNewImageInfoState();
    } else {
      FLastSent = TKzChangeSent::kzcsNotTaken;
    }
  }
  Item.LastTime = now;
  return true;
}

int32_t TKzChangeEncoder::BuildAreas(const TKzMCustomBitmap& New, TKzImageInfo& Item, const TKzChangeSettings& S,
                                     int64_t T, int64_t D, bool& Test) {
  FShownCount = 0;
  KzChangeBegin(Item.AData, New.Width(), New.Height(), T, D, Item.NumFrame);
  std::unique_ptr<TKzMBitmap> testImg;
  int32_t k = Item.MotionDetector.DetectChanges(New, Item.OldSendBt, &testImg);
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
      const TRect c = ChangedPart(New, Item.OldSendBt, r);
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
    KzMakeDifferencePicture(New, Item.RealSendBt, X, Y, W, H, FArea);
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

bool TKzChangeEncoder::SendWhole(const TKzMCustomBitmap& New, TKzImageInfo& Item, const TKzChangeSettings& S,
                                 int64_t T, int64_t D, uint8_t N) {
  FShownCount = 0;
  std::vector<uint8_t>& out = Item.SingleImageStream;
  KzChangeBegin(out, New.Width(), New.Height(), T, D, N);
  if (!AddToBufferSingle(New, Item, out, S)) return false;
  KzChangeFinish(out);
  Item.OldBufferSingleFrame = static_cast<int64_t>(out.size());
  if (!SendContainer(Item, out, T)) return false;
  Item.OldSendBt.AssignKzMBitmap(New);
  Item.MotionDetector.ForgetReference();
  Item.RealSendBt.AssignKzMBitmap(New);
  ApplyShown(Item.RealSendBt);  // lossy formats: the decoded picture
  Item.NumFrame = N;
  Item.PassedOver.clear();
  Item.ResetCounter();
  Item.IncCounter(S.FullFrameInterval, S.FrameDifferenceInterval);
  Item.StateId = KzNewImageInfoState();
  return true;
}

bool TKzChangeEncoder::SendContainer(TKzImageInfo& Item, std::vector<uint8_t>& Container, int64_t T) {
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
