#include "streaming/fmxMKzStreamMarkers.h"

#include <algorithm>
#include <cstring>
#include <string.h>
#include <vector>

namespace kz {

namespace {

// Searches the stream from StartPos window by window; leaves it after the
// match, or at its end.
int64_t SearchStream(int64_t StartPos, TStream& Stream, const TKzMarker* Markers, int Count, int& Which) {
  const int64_t size = Stream.Size();
  constexpr int64_t len = 4;
  std::vector<uint8_t> window(static_cast<size_t>(std::min<int64_t>(KZ_MARKER_WINDOW, std::max<int64_t>(size, len))));
  int64_t pos = std::max<int64_t>(StartPos, 0);
  while (pos + len <= size) {
    Stream.SetPosition(pos);
    const int64_t got = Stream.Read(window.data(), std::min<int64_t>(static_cast<int64_t>(window.size()), size - pos));
    if (got < len) break;
    const int64_t at = KzFindFirstMarker(window.data(), static_cast<size_t>(got), 0, Markers, Count, Which);
    if (at >= 0) {
      Stream.SetPosition(pos + at + len);
      return pos + at;
    }
    if (pos + got >= size) break;
    pos += got - (len - 1);
  }
  Stream.Seek(0, TSeekOrigin::soEnd);
  return -1;
}

}  // namespace

int64_t KzFindBytes(const uint8_t* Data, size_t Size, size_t From, const uint8_t* Marker, size_t Len) {
  if (From >= Size || Size - From < Len) return -1;
  const void* hit = memmem(Data + From, Size - From, Marker, Len);
  return hit ? static_cast<const uint8_t*>(hit) - Data : -1;
}

int64_t KzFindFirstMarker(const uint8_t* Data, size_t Size, size_t From, const TKzMarker* Markers, int Count,
                          int& Which) {
  int64_t best = -1;
  Which = -1;
  for (int i = 0; i < Count; ++i) {
    // Only the part before the best match so far can hold an earlier one.
    const size_t end = best < 0 ? Size : std::min(Size, static_cast<size_t>(best) + 3);
    const int64_t at = KzFindMarker(Data, end, From, Markers[i]);
    if (at >= 0 && (best < 0 || at < best)) {
      best = at;
      Which = i;
    }
  }
  return best;
}

int64_t SearchMarkerSingle(int64_t StartPos, TStream& Stream, const TKzMarker& Marker) {
  int which = 0;
  return SearchStream(StartPos, Stream, &Marker, 1, which);
}

bool SearchMarkerFast(int64_t StartPos, TStream& Stream, const TKzMarker& Marker) {
  return SearchMarkerSingle(StartPos, Stream, Marker) >= 0;
}

int64_t SearchMarkerProtocol(int64_t StartPos, TStream& Stream, TKzProtocol& Protocol) {
  const TKzMarker markers[2] = {HEADER_MARKER_TCP, HEADER_MARKER_UDP};
  int which = -1;
  const int64_t at = SearchStream(StartPos, Stream, markers, 2, which);
  if (at >= 0) Protocol = which == 0 ? TKzProtocol::kzpTCP : TKzProtocol::kzpUDP;
  return at;
}

bool GetMarkerOffs(TStream& Stream, int64_t& Pos, int64_t& NextPos, bool SearchFirst) {
  if (SearchFirst) {
    const int64_t at = SearchMarkerSingle(Pos, Stream, MARKER);
    if (at < 0) return false;
    Pos = at;
  }
  const int64_t next = SearchMarkerSingle(Pos + 4, Stream, MARKER);
  NextPos = next >= 0 ? next : Stream.Size();
  return true;
}

bool IsMarkerAt(TStream& Stream, int64_t Pos, const TKzMarker& Marker) {
  const int64_t keep = Stream.Position();
  uint8_t b[4];
  Stream.SetPosition(Pos);
  const bool same = Pos >= 0 && Stream.Read(b, 4) == 4 && std::memcmp(b, Marker.data(), 4) == 0;
  Stream.SetPosition(keep);
  return same;
}

void KzMRemoveFromBeginning(TStream& Stream, int64_t Count) {
  if (Count <= 0) return;
  const int64_t size = Stream.Size();
  const int64_t position = Stream.Position();
  if (Count >= size) {
    Stream.SetSize(0);
    Stream.SetPosition(0);
    return;
  }
  if (auto* memory = dynamic_cast<TMemoryStream*>(&Stream)) {
    memory->DeleteFront(Count);
    return;
  }
  std::vector<uint8_t> window(static_cast<size_t>(std::min(KZ_REMOVE_WINDOW, size - Count)));
  for (int64_t from = Count; from < size;) {
    Stream.SetPosition(from);
    const int64_t got = Stream.Read(window.data(), std::min<int64_t>(static_cast<int64_t>(window.size()), size - from));
    if (got <= 0) break;
    Stream.SetPosition(from - Count);
    Stream.Write(window.data(), got);
    from += got;
  }
  Stream.SetSize(size - Count);
  Stream.SetPosition(std::max<int64_t>(position - Count, 0));  // as the memory stream moves it
}

}  // namespace kz
