// The changed-area container: the video payload of the Change encodings.
// A frame goes out as the rectangles in which it changed, each an encoded
// picture, pasted by the receiver into the picture it already shows; a whole
// frame is the same container with one record covering the frame.
//
// Header (33 bytes, little-endian): "DMIB", CRC-32 of the whole container
// (computed with this field and the next still 0), container length (both
// markers included), frame width and height (16 bits each), StartTime (8,
// signed ms), DiffTime (8, signed ms), frame number (1, 0..253). Then the
// area records: X, Y, W, H (16 bits each), picture format (1: JPEG, 2: HWL,
// 3: BMP, 4: PNG), difference index F (16 bits; 0: the area's pixels, else a
// difference picture), picture length L (32 bits), L bytes. Then "DMIE".
//
// Difference picture: per colour byte d = (new - base + 255) div 2; the
// receiver restores clamp(2d - 255 + base, 0, 255). The fourth byte is 255.
//
// Pure functions over buffers: any thread, never block.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "foundation/fmxMKzBitmap.h"

namespace kz {

constexpr size_t KZ_CHANGE_HEAD = 33;
constexpr size_t KZ_CHANGE_RECORD_HEAD = 15;
constexpr size_t KZ_CHANGE_MIN_LENGTH = KZ_CHANGE_HEAD + 4;
constexpr size_t KZ_CHANGE_TIME_AT = 16;      // StartTime
constexpr size_t KZ_CHANGE_DIFFTIME_AT = 24;  // DiffTime
// Frames larger than this in either direction are refused.
constexpr int32_t KZ_CHANGE_MAX_SIDE = 8192;
// The frame number wraps after 253.
constexpr int32_t KZ_CHANGE_FRAME_NUMBERS = 254;

// Picture formats of an area record.
enum class TKzAreaFormat : uint8_t { kzafJPEG = 1, kzafHWL = 2, kzafBMP = 3, kzafPNG = 4 };

struct TKzChangeHeader {
  uint32_t Crc = 0;
  uint32_t Length = 0;
  uint16_t Width = 0;
  uint16_t Height = 0;
  int64_t StartTime = 0;
  int64_t DiffTime = 0;
  uint8_t NumFrame = 0;
};

struct TKzAreaRecord {
  uint16_t X = 0, Y = 0, W = 0, H = 0;
  uint8_t Format = 0;
  uint16_t F = 0;
  uint32_t Size = 0;   // picture length
  size_t Picture = 0;  // offset of the picture in the container
};

// ---- Writing (Out holds the one container being built)
void KzChangeBegin(std::vector<uint8_t>& Out, int32_t Width, int32_t Height, int64_t StartTime, int64_t DiffTime,
                   uint8_t NumFrame);
// Writes a record head with length 0 and returns its offset; the caller
// appends the picture, then calls KzChangeEndRecord.
size_t KzChangeBeginRecord(std::vector<uint8_t>& Out, int32_t X, int32_t Y, int32_t W, int32_t H,
                           TKzAreaFormat Format, uint16_t F);
void KzChangeEndRecord(std::vector<uint8_t>& Out, size_t RecordAt);
// Drops the record begun last (its picture could not be made).
void KzChangeDropRecord(std::vector<uint8_t>& Out, size_t RecordAt);
// Appends "DMIE" and fills in the CRC and the length.
void KzChangeFinish(std::vector<uint8_t>& Out);
// The CRC a finished container carries (its CRC and length fields taken as 0).
uint32_t KzChangeCrc(const uint8_t* Data, size_t Size);
// Rewrites the CRC of a finished container after a header field changed.
void KzChangeRefreshCrc(uint8_t* Data, size_t Size);
bool KzIsChangeContainer(const uint8_t* Data, size_t Size);

// ---- Reading
// The most bytes a container for a Width x Height frame may take: 5 bytes
// a pixel plus 64 KiB, never above 64 MiB. A longer one is a false "DMIB".
uint64_t KzChangeLengthBound(int32_t Width, int32_t Height);

enum class TKzChangeFind : uint8_t {
  kzcfFound = 0,     // Header read; the container is Data[Pos, Pos + Length)
  kzcfNeedMore = 1,  // a container begins at Pos and waits for more bytes
  kzcfNone = 2       // no container start before the last 12 bytes; Pos says where to go on
};

// Scans Data from Pos for the next complete container: bytes before a
// "DMIB" are skipped one at a time; a "DMIB" whose length is impossible
// (shorter than a header and end marker, longer than its frame can need,
// a frame of 0 or above 8192 pixels in a direction) or that has no "DMIE"
// where its length says is passed over.
TKzChangeFind KzFindChangeContainer(const uint8_t* Data, size_t Size, size_t& Pos, TKzChangeHeader& Header);

// Reads the record at At (an offset into the container Data of Length
// bytes) and moves At past it. False at the end marker or at a record that
// is cut short or has no picture.
bool KzNextAreaRecord(const uint8_t* Data, size_t Length, size_t& At, TKzAreaRecord& Record);

// ---- Pictures
// Out := the difference picture of the W x H area at (X, Y) of New against Base.
void KzMakeDifferencePicture(const TKzMCustomBitmap& New, const TKzMCustomBitmap& Base, int32_t X, int32_t Y,
                             int32_t W, int32_t H, TKzMCustomBitmap& Out);
// Adds the difference picture Diff back into Target at (X, Y), clipped to
// W x H and to Target.
void KzAddDifferencePicture(TKzMCustomBitmap& Target, int32_t X, int32_t Y, int32_t W, int32_t H,
                            const TKzMCustomBitmap& Diff);
// Copies Picture into Target at (X, Y), clipped to W x H and to Target.
void KzPasteAreaPicture(TKzMCustomBitmap& Target, int32_t X, int32_t Y, int32_t W, int32_t H,
                        const TKzMCustomBitmap& Picture);
// Out := the W x H area at (X, Y) of Source (clipped to it).
void KzCopyArea(const TKzMCustomBitmap& Source, int32_t X, int32_t Y, int32_t W, int32_t H, TKzMCustomBitmap& Out);

}  // namespace kz
