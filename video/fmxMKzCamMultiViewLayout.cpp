// TKzCamMultiView: geometry. Cells live in content coordinates; the wall
// shows the content shifted by its scroll position. On every size change
// each cell is scaled, kept in place by its anchors, or docked. Positions
// are computed in reals from the cell's reference bounds and rounded once,
// so repeated resizes never creep.
#include <algorithm>
#include <cmath>

#include "video/fmxMKzCamMultiView.h"

namespace kz {

namespace {
int32_t RoundPx(double V) { return static_cast<int32_t>(std::lround(V)); }

// One axis of an undocked cell: the reference edges From..To in a parent
// that was Old wide and is now New wide.
void AnchorAxis(bool Near, bool Far, int32_t From, int32_t To, int32_t Old, int32_t New, int32_t& Start,
                int32_t& End) {
  Start = From;
  End = To;
  if (New == Old) return;
  const int32_t size = To - From;
  if (Near && Far) {  // the far edge follows, the size stretches
    End = std::max(From, To + (New - Old));
  } else if (Far) {  // the cell follows the far edge
    Start = From + (New - Old);
    End = Start + size;
  } else if (!Near) {  // the centre keeps its proportion
    const double centre = static_cast<double>(From + To) * New / (std::max(Old, 1) * 2.0);
    Start = RoundPx(centre - size / 2.0);
    End = Start + size;
  }
}
}  // namespace

void TKzCamMultiView::GetViewerRects(int32_t Index, TRect& VideoRect, TRect& AudioRect) const {
  VideoRect = AudioRect = TRect();
  const TKzCamViewItem* item = ItemAt(Index);
  if (!item) return;
  const TRect& b = item->FBounds;
  VideoRect = b;
  if (!item->FAudioViewer) return;
  constexpr int32_t s = AudioStripSize;
  const int32_t l = b.Left, t = b.Top, r = b.Right, bt = b.Bottom;
  switch (item->FAlignAudioViewer) {
    case TKzAlignAudioViewer::kzaavTop:
      AudioRect = TRect(l, t, r, std::min(t + s, bt));
      VideoRect = TRect(l, AudioRect.Bottom, r, bt);
      break;
    case TKzAlignAudioViewer::kzaavBottom:
      VideoRect = TRect(l, t, r, std::max(bt - s, t));
      AudioRect = TRect(l, VideoRect.Bottom, r, bt);
      break;
    case TKzAlignAudioViewer::kzaavLeft:
      AudioRect = TRect(l, t, std::min(l + s, r), bt);
      VideoRect = TRect(AudioRect.Right, t, r, bt);
      break;
    case TKzAlignAudioViewer::kzaavRight:
      VideoRect = TRect(l, t, std::max(r - s, l), bt);
      AudioRect = TRect(VideoRect.Right, t, r, bt);
      break;
    case TKzAlignAudioViewer::kzaavClient:  // an audio-only cell
      AudioRect = b;
      VideoRect = TRect(l, t, l, t);
      break;
  }
}

TRect TKzCamMultiView::ClientOf(const TRect& Content) const {
  const TPoint s = ScrollPos();
  return TRect(Content.Left - s.X, Content.Top - s.Y, Content.Right - s.X, Content.Bottom - s.Y);
}

TRect TKzCamMultiView::CellClientRect(const TKzCamViewItem& Item) const { return ClientOf(Item.FBounds); }

void TKzCamMultiView::InvalidateCell(const TKzCamViewItem& Item) {
  if (FLockCounter == 0) InvalidateRect(CellClientRect(Item));
}

int32_t TKzCamMultiView::GetViewerAt(int32_t X, int32_t Y) const {
  for (int32_t i = FViewers.Count() - 1; i >= 0; --i) {
    const TRect& b = FViewers[i].FBounds;
    if (X >= b.Left && X < b.Right && Y >= b.Top && Y < b.Bottom) return i;
  }
  return -1;
}

void TKzCamMultiView::ResizeViewers(int32_t Except) {
  if (FLockCounter > 0 || IsDestroying()) return;
  const int32_t cw = Width(), ch = Height();
  TRect rest(0, 0, cw, ch);  // what docking leaves
  for (int32_t i = 0; i < FViewers.Count(); ++i) {
    TKzCamViewItem& item = FViewers[i];
    if (item.FOriginalParentWidth <= 0 && item.FOriginalParentHeight <= 0 && cw > 0 && ch > 0) {
      // Placed before the wall had a size: that size is its reference.
      item.FOriginalParentWidth = cw;
      item.FOriginalParentHeight = ch;
    }
    if (i == Except) continue;
    const TRect& o = item.FOriginalBounds;
    const int32_t ow = item.FOriginalParentWidth, oh = item.FOriginalParentHeight;
    TRect next = item.FBounds;
    if (item.FAlignVideoViewer != TKzAlignVideoViewer::kzavvNone) {
      switch (item.FAlignVideoViewer) {
        case TKzAlignVideoViewer::kzavvTop:
          next = TRect(rest.Left, rest.Top, rest.Right, std::min(rest.Top + item.Height(), rest.Bottom));
          rest.Top = next.Bottom;
          break;
        case TKzAlignVideoViewer::kzavvBottom:
          next = TRect(rest.Left, std::max(rest.Bottom - item.Height(), rest.Top), rest.Right, rest.Bottom);
          rest.Bottom = next.Top;
          break;
        case TKzAlignVideoViewer::kzavvLeft:
          next = TRect(rest.Left, rest.Top, std::min(rest.Left + item.Width(), rest.Right), rest.Bottom);
          rest.Left = next.Right;
          break;
        case TKzAlignVideoViewer::kzavvRight:
          next = TRect(std::max(rest.Right - item.Width(), rest.Left), rest.Top, rest.Right, rest.Bottom);
          rest.Right = next.Left;
          break;
        default:  // client: the whole rest
          next = rest;
          break;
      }
    } else if (FScaleViewers) {
      const double sx = static_cast<double>(cw) / std::max(ow, 1), sy = static_cast<double>(ch) / std::max(oh, 1);
      next = TRect(RoundPx(o.Left * sx), RoundPx(o.Top * sy), RoundPx(o.Right * sx), RoundPx(o.Bottom * sy));
    } else {
      AnchorAxis(item.FAnchors.Contains(TKzMAnchor::kzmaLeft), item.FAnchors.Contains(TKzMAnchor::kzmaRight),
                 o.Left, o.Right, ow, cw, next.Left, next.Right);
      AnchorAxis(item.FAnchors.Contains(TKzMAnchor::kzmaTop), item.FAnchors.Contains(TKzMAnchor::kzmaBottom), o.Top,
                 o.Bottom, oh, ch, next.Top, next.Bottom);
    }
    item.FAnchorMove = true;
    item.MoveTo(next);
    item.FAnchorMove = false;
  }
  UpdateContentSize();
}

void TKzCamMultiView::UpdateContentSize() {
  if (FLockCounter > 0) return;
  int32_t w = 0, h = 0;
  for (int32_t i = 0; i < FViewers.Count(); ++i) {
    w = std::max(w, FViewers[i].FBounds.Right);
    h = std::max(h, FViewers[i].FBounds.Bottom);
  }
  SetContentSize(w, h);
}

void TKzCamMultiView::Resize() {
  TScrollBox::Resize();
  ResizeViewers(-1);
}

void TKzCamMultiView::ScrollChanged() {
  for (int32_t i = 0; i < FViewers.Count(); ++i) FViewers[i].PlaceViewer();
  Repaint();
}

}  // namespace kz
