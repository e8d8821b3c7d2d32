// Marker searches over byte buffers and streams, and dropping bytes from the
// front of a stream. Stream searches read through a window of at most
// 1,048,576 bytes, stepping back by the marker length - 1 between windows
// so that a marker split across two windows is still found.
//
// Any thread; they block only on the stream they are given.
#pragma once
#include <cstddef>
#include <cstdint>

#include "platform/fmxMKzPlatformStream.h"
#include "streaming/fmxMKzStreamTypes.h"

namespace kz {

constexpr int64_t KZ_MARKER_WINDOW = 1048576;
constexpr int64_t KZ_REMOVE_WINDOW = 10485760;

// Offset of the first Marker (Len bytes) in Data[From, Size), or -1.
int64_t KzFindBytes(const uint8_t* Data, size_t Size, size_t From, const uint8_t* Marker, size_t Len);
inline int64_t KzFindMarker(const uint8_t* Data, size_t Size, size_t From, const TKzMarker& Marker) {
  return KzFindBytes(Data, Size, From, Marker.data(), Marker.size());
}
// The first of Count four-byte markers in Data[From, Size): its offset and,
// in Which, its index; -1 when none occurs.
int64_t KzFindFirstMarker(const uint8_t* Data, size_t Size, size_t From, const TKzMarker* Markers, int Count,
                          int& Which);

// Offset of the first Marker at or after StartPos; the stream is left just
// after it, or at its end when there is none (-1).
int64_t SearchMarkerSingle(int64_t StartPos, TStream& Stream, const TKzMarker& Marker);
bool SearchMarkerFast(int64_t StartPos, TStream& Stream, const TKzMarker& Marker);
// The first "hmHT" or "hmHU" at or after StartPos; Protocol says which
// (kzpTCP or kzpUDP). -1 when neither occurs.
int64_t SearchMarkerProtocol(int64_t StartPos, TStream& Stream, TKzProtocol& Protocol);
// With SearchFirst, moves Pos to the next "mdBD" at or after it (false when
// there is none); then NextPos is the next "mdBD" after Pos + 4, or the
// stream's size.
bool GetMarkerOffs(TStream& Stream, int64_t& Pos, int64_t& NextPos, bool SearchFirst);
// Whether the bytes at Pos are Marker; the position is kept.
bool IsMarkerAt(TStream& Stream, int64_t Pos, const TKzMarker& Marker);
// Drops the first Count bytes: nothing for Count <= 0, everything for
// Count >= size, otherwise the tail moves to the front through a window of
// at most 10,485,760 bytes.
void KzMRemoveFromBeginning(TStream& Stream, int64_t Count);

}  // namespace kz
