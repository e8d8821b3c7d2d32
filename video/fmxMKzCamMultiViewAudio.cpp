// TKzCamMultiView: the cells' audio strips. Each strip registers with the
// wall's audio source, keeps the recent levels of its cell's sender (all
// senders when the cell's GUIDFrom is empty) and is drawn as a bar, a
// histogram of recent levels, a gradient bar, or by the application.
#include <algorithm>

#include "foundation/Fmxmkzguidfuncs.h"
#include "video/fmxMKzCamMultiView.h"

namespace kz {

namespace {
// Level 128 is silence, 256 the loudest: the fraction 0..1 of full scale.
double Fraction(uint16_t Level) { return std::clamp((static_cast<int>(Level) - 128) / 128.0, 0.0, 1.0); }

// Green through yellow to red along 0..1.
TAlphaColor GradientColor(double F) {
  const int r = F < 0.5 ? static_cast<int>(510 * F) : 255;
  const int g = F < 0.5 ? 200 : static_cast<int>(200 * (1 - F) * 2);
  return 0xFF000000u | (static_cast<uint32_t>(r) << 16) | (static_cast<uint32_t>(g) << 8);
}

constexpr TAlphaColor kLevelColor = 0xFF20B020u;
}  // namespace

// ---- Levels (the audio source's thread)

void TKzCamAudioViewer::ViewerSetAudioLevel(TComponent* Sender, uint16_t Level) {
  // The source's own blocks carry no sender: they count as the empty identity.
  ViewerSetAudioLevelFrom(Sender, TGUID{}, Level);
}

void TKzCamAudioViewer::ViewerSetAudioLevelFrom(TComponent* Sender, const TGUID& From, uint16_t Level) {
  (void)Sender;
  if (ViewerDestroying()) return;
  const std::string wanted = FItem.FViewer->GUIDFrom();
  if (!wanted.empty() && GUIDToStringA(From) != wanted) return;
  {
    std::lock_guard<std::mutex> g(FLock);
    FHistory[FNext] = Level;
    FNext = (FNext + 1) % FHistory.size();
  }
  FItem.FOwner.QueueRedraw(FItem);
}

uint16_t TKzCamAudioViewer::Level() const {
  std::lock_guard<std::mutex> g(FLock);
  return FHistory[(FNext + FHistory.size() - 1) % FHistory.size()];
}

std::vector<uint16_t> TKzCamAudioViewer::History() const {
  std::lock_guard<std::mutex> g(FLock);
  std::vector<uint16_t> out(FHistory.begin() + static_cast<std::ptrdiff_t>(FNext), FHistory.end());
  out.insert(out.end(), FHistory.begin(), FHistory.begin() + static_cast<std::ptrdiff_t>(FNext));
  return out;
}

// ---- Registration (main thread)

void TKzCamMultiView::SetAudioSource(TComponent* Value) {
  if (Value == FAudioSourceComponent) return;
  for (int32_t i = 0; i < FViewers.Count(); ++i) DetachAudioViewer(FViewers[i]);
  if (FAudioSourceComponent) RemoveFreeNotification(FAudioSourceComponent);
  FAudioSourceComponent = Value;
  FAudioSource = dynamic_cast<IKzAudioLevelSource*>(Value);
  if (Value) FreeNotification(Value);
  for (int32_t i = 0; i < FViewers.Count(); ++i)
    if (FViewers[i].FAudioViewer) AttachAudioViewer(FViewers[i]);
}

void TKzCamMultiView::AttachAudioViewer(TKzCamViewItem& Item) {
  if (!Item.FAViewer) Item.FAViewer = std::make_unique<TKzCamAudioViewer>(Item);
  if (FAudioSource && !Item.FAViewerRegistered) {
    FAudioSource->RegisterAudioViewer(Item.FAViewer.get());
    Item.FAViewerRegistered = true;
  }
}

void TKzCamMultiView::DetachAudioViewer(TKzCamViewItem& Item) {
  if (!Item.FAViewer || !Item.FAViewerRegistered) return;
  Item.FAViewerRegistered = false;
  if (FAudioSource) FAudioSource->UnRegisterAudioViewer(Item.FAViewer.get());
}

void TKzCamMultiView::SetAudioViewerStyle(TKzMicrophoneStyle Value) {
  if (Value == FAudioViewerStyle) return;
  FAudioViewerStyle = Value;
  Repaint();
}

// ---- Drawing (main thread)

void TKzCamMultiView::PaintAudioStrip(TCanvas& Canvas, TKzCamViewItem& Item, const TRect& R) {
  bool canDraw = FAudioViewerStyle != TKzMicrophoneStyle::kzmpsOwnerDraw;
  if (OnViewerPaint) OnViewerPaint(this, Item, nullptr, canDraw, R, Canvas);
  if (!canDraw) return;
  Canvas.FillRect(R, Item.FAudioViewerColor);
  if (!Item.FAViewer) return;
  // Levels grow along the strip's long side, from its start (left or bottom).
  const bool horizontal = R.Width() >= R.Height();
  const int32_t length = horizontal ? R.Width() : R.Height();
  auto span = [&](int32_t From, int32_t To) {  // From..To pixels along the strip
    return horizontal ? TRect(R.Left + From, R.Top, R.Left + To, R.Bottom)
                      : TRect(R.Left, R.Bottom - To, R.Right, R.Bottom - From);
  };
  switch (FAudioViewerStyle) {
    case TKzMicrophoneStyle::kzmpsSimple: {
      const int32_t n = static_cast<int32_t>(Fraction(Item.FAViewer->Level()) * length + 0.5);
      Canvas.FillRect(span(0, n), kLevelColor);
      break;
    }
    case TKzMicrophoneStyle::kzmpsGradient: {
      const int32_t n = static_cast<int32_t>(Fraction(Item.FAViewer->Level()) * length + 0.5);
      for (int32_t p = 0; p < n; p += 2)
        Canvas.FillRect(span(p, std::min(p + 2, n)), GradientColor(static_cast<double>(p) / std::max(length, 1)));
      break;
    }
    case TKzMicrophoneStyle::kzmpsHistogram: {
      // One column per recent level across the thickness, newest last.
      const std::vector<uint16_t> h = Item.FAViewer->History();
      const int32_t thickness = horizontal ? R.Height() : R.Width();
      const int32_t count = std::min<int32_t>(length, static_cast<int32_t>(h.size()));
      for (int32_t k = 0; k < count; ++k) {
        const uint16_t level = h[h.size() - static_cast<size_t>(count) + static_cast<size_t>(k)];
        const int32_t depth = static_cast<int32_t>(Fraction(level) * thickness + 0.5);
        if (depth == 0) continue;
        const int32_t at = length - count + k;
        const TRect col = horizontal ? TRect(R.Left + at, R.Bottom - depth, R.Left + at + 1, R.Bottom)
                                     : TRect(R.Left, R.Top + at, R.Left + depth, R.Top + at + 1);
        Canvas.FillRect(col, kLevelColor);
      }
      break;
    }
    case TKzMicrophoneStyle::kzmpsOwnerDraw:
      break;
  }
}

}  // namespace kz
