#include "sender/fmxMKzLastingChanges.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace kz {

namespace {

constexpr size_t kMostSmallChanges = 256;  // noise beyond this many is left alone
constexpr int32_t kJoinDistance = 8;       // areas (frame pixels) closer than this go out as one
constexpr int32_t kGroupDistance = 9;      // small changes (working pixels) closer than this count together

// Less than Margin pixels apart (1: overlapping; 2: touching, corners too).
bool Near(const TRect& A, const TRect& B, int32_t Margin) {
  return A.Left < B.Right + Margin && B.Left < A.Right + Margin && A.Top < B.Bottom + Margin &&
         B.Top < A.Bottom + Margin;
}

bool Inside(const TRect& A, const TRect& B) {
  return A.Left >= B.Left && A.Top >= B.Top && A.Right <= B.Right && A.Bottom <= B.Bottom;
}

void Unite(TRect& A, const TRect& B) {
  A = TRect(std::min(A.Left, B.Left), std::min(A.Top, B.Top), std::max(A.Right, B.Right),
            std::max(A.Bottom, B.Bottom));
}

// Joins areas that lie within kJoinDistance of each other until none do.
void Join(std::vector<TRect>& Areas) {
  for (bool joined = true; joined;) {
    joined = false;
    for (size_t i = 0; i < Areas.size(); ++i)
      for (size_t j = i + 1; j < Areas.size(); ++j)
        if (Near(Areas[i], Areas[j], kJoinDistance)) {
          Unite(Areas[i], Areas[j]);
          Areas.erase(Areas.begin() + static_cast<std::ptrdiff_t>(j--));
          joined = true;
        }
  }
}

struct TGroup {
  TRect Box;           // working pixels
  int64_t Pixels = 0;  // the boxes' areas summed
  bool Lasting = false;
};

}  // namespace

std::vector<TRect> KzSmallChangesToSend(const TKzMotionDetector& Detector, int32_t FrameW, int32_t FrameH,
                                        const std::vector<TRect>& Sent, int32_t Budget,
                                        std::vector<TRect>& PassedOver) {
  std::vector<TRect> send;
  const int32_t ww = Detector.WorkWidth(), wh = Detector.WorkHeight();
  if (ww <= 0 || wh <= 0) {
    PassedOver.clear();
    return send;
  }
  const double kx = double(FrameW) / ww, ky = double(FrameH) / wh;
  const auto toFrame = [&](const TRect& R) {  // outward, so that the change lies inside
    return TRect(std::max(0, int32_t(std::floor(R.Left * kx))), std::max(0, int32_t(std::floor(R.Top * ky))),
                 std::min(FrameW, int32_t(std::ceil(R.Right * kx))), std::min(FrameH, int32_t(std::ceil(R.Bottom * ky))));
  };
  // The small boxes the detector dropped, outside what goes out anyway.
  const int64_t smallest = Detector.MinChangeAreaSize();
  std::vector<TRect> boxes;
  for (const TKzRectF& b : Detector.LabelBoxes()) {
    const TRect r(int32_t(b.Left), int32_t(b.Top), int32_t(b.Right), int32_t(b.Bottom));
    if (r.IsEmpty() || int64_t(r.Width()) * r.Height() > smallest) continue;  // the detector's own
    const TRect f = toFrame(r);
    if (std::any_of(Sent.begin(), Sent.end(), [&](const TRect& s) { return Inside(f, s); })) continue;
    boxes.push_back(r);
    if (boxes.size() == kMostSmallChanges) break;
  }
  // Groups of boxes lying close together (union-find).
  std::vector<size_t> up(boxes.size());
  std::iota(up.begin(), up.end(), size_t{0});
  const auto root = [&](size_t i) {
    while (up[i] != i) i = up[i] = up[up[i]];
    return i;
  };
  for (size_t i = 0; i < boxes.size(); ++i)
    for (size_t j = i + 1; j < boxes.size(); ++j)
      if (Near(boxes[i], boxes[j], kGroupDistance)) up[root(j)] = root(i);
  std::vector<TGroup> groups(boxes.size());
  for (size_t i = 0; i < boxes.size(); ++i) {
    TGroup& g = groups[root(i)];
    if (g.Pixels == 0)
      g.Box = boxes[i];
    else
      Unite(g.Box, boxes[i]);
    g.Pixels += int64_t(boxes[i].Width()) * boxes[i].Height();
    g.Lasting = g.Lasting ||
                std::any_of(PassedOver.begin(), PassedOver.end(), [&](const TRect& p) { return Near(boxes[i], p, 1); });
  }
  PassedOver.clear();
  for (const TGroup& g : groups) {
    if (g.Pixels == 0) continue;
    if (g.Lasting || g.Pixels > smallest)
      send.push_back(toFrame(g.Box));
    else
      PassedOver.push_back(g.Box);
  }
  Join(send);
  if (static_cast<int32_t>(send.size()) > std::max(Budget, 1)) {
    for (size_t i = 1; i < send.size(); ++i) Unite(send[0], send[i]);
    send.resize(1);
  }
  return send;
}

void KzJoinCheaperAreas(std::vector<TRect>& Areas, double BytesPerPixel, int64_t HeadBytes) {
  const auto pixels = [](const TRect& R) { return int64_t(R.Width()) * R.Height(); };
  for (bool joined = true; joined;) {
    joined = false;
    for (size_t i = 0; i < Areas.size() && !joined; ++i)
      for (size_t j = i + 1; j < Areas.size() && !joined; ++j) {
        TRect u = Areas[i];
        Unite(u, Areas[j]);
        const int64_t added = pixels(u) - pixels(Areas[i]) - pixels(Areas[j]);
        if (double(added) * BytesPerPixel < double(HeadBytes)) {
          Areas[i] = u;
          Areas.erase(Areas.begin() + static_cast<std::ptrdiff_t>(j));
          joined = true;
        }
      }
  }
}

}  // namespace kz
