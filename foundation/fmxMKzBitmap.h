// The library bitmap: a top-down array of 32-bit pixels, bytes B, G, R, A
// (0xAARRGGBB as a 32-bit value), held in one flat array so that whole-frame
// copies are single block moves.
//
// None of its operations locks: the owner of a bitmap serialises access, and
// every operation may be called on any thread that owns the bitmap. None of
// them blocks (file operations wait only for the file system).
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/fmxMKzPlatformCanvas.h"
#include "platform/fmxMKzPlatformComponent.h"
#include "platform/fmxMKzPlatformPages.h"
#include "platform/fmxMKzPlatformStream.h"
#include "platform/fmxMKzPlatformTypes.h"

namespace kz {

struct TRGBQuad {
  uint8_t rgbBlue;
  uint8_t rgbGreen;
  uint8_t rgbRed;
  uint8_t rgbReserved;
};
static_assert(sizeof(TRGBQuad) == 4);

struct TRGBTriple {
  uint8_t rgbtBlue;
  uint8_t rgbtGreen;
  uint8_t rgbtRed;
};

// Pixel depth of the BMP files written by SaveToFile.
enum class TKzMTypeBitmap : uint8_t { kzmtb24 = 0, kzmtb32 = 1 };

constexpr uint32_t KzOpaqueBlack = 0xFF000000u;
constexpr uint32_t KzOpaqueWhite = 0xFFFFFFFFu;

class TKzMBitmap;

class TKzMCustomBitmap : public TPersistent {
public:
  TKzMCustomBitmap() = default;
  TKzMCustomBitmap(int32_t Width, int32_t Height) { SetSize(Width, Height); }
  // A copy of the pixels (never of the smoothing state).
  TKzMCustomBitmap(const TKzMCustomBitmap& Source) { CopyPixels(Source); }
  TKzMCustomBitmap& operator=(const TKzMCustomBitmap& Source) {
    if (this != &Source) AssignKzMBitmap(Source);
    return *this;
  }
  ~TKzMCustomBitmap() override;

  // ---- Virtual operations, in the framework's slot order.
  // A library bitmap is taken over with AssignKzMBitmap; anything else goes
  // to the framework.
  void Assign(const TPersistent& Source) override;
  // Takes over a framework bitmap. On this platform the framework bitmap is
  // the library bitmap, so this is AssignKzMBitmap.
  virtual void AssignBitmap(const TKzMCustomBitmap& Source) { AssignKzMBitmap(Source); }
  // The bound framework bitmap, nullptr when none is bound.
  virtual TKzMCustomBitmap* GetBitmap() { return nullptr; }
  // No change when equal; a change of the pixel count restarts smoothing.
  // New pixels are undefined. Either way the picture counts as being at its
  // source's size again (SetSourceSize).
  virtual void SetSize(int32_t Width, int32_t Height);
  // Pixels -> framework bitmap and back; both record the update.
  virtual void UpdateData() { UpdateInfo(); }
  virtual void UpdateBitmap() { UpdateInfo(); }

  // ---- Size and access
  void SetWidth(int32_t Value) { SetSize(Value, FHeight); }
  void SetHeight(int32_t Value) { SetSize(FWidth, Value); }
  int32_t Width() const { return FWidth; }
  int32_t Height() const { return FHeight; }
  int32_t BytesPerLine() const { return FBytesPerLine; }
  int64_t GetLength() const { return static_cast<int64_t>(FWidth) * FHeight; }
  int64_t GetSize() const { return GetLength() * 4; }
  TRect ClientRect() const { return TRect(0, 0, FWidth, FHeight); }
  bool IsEmpty() const { return FWidth == 0 || FHeight == 0; }
  uint32_t* Data() { return FData.data(); }
  const uint32_t* Data() const { return FData.data(); }
  uint32_t* ScanLine(int32_t Row) { return FData.data() + static_cast<int64_t>(Row) * FWidth; }
  const uint32_t* ScanLine(int32_t Row) const { return FData.data() + static_cast<int64_t>(Row) * FWidth; }
  uint32_t Pixel(int32_t X, int32_t Y) const { return ScanLine(Y)[X]; }
  // The size of the picture these pixels were decoded from, when a decoder
  // made them smaller than their source (scaled decoding); the bitmap's own
  // size otherwise. It travels with the pixels (copies, swaps, rotation) and
  // is forgotten by SetSize.
  int32_t SourceWidth() const { return FSourceWidth > 0 ? FSourceWidth : FWidth; }
  int32_t SourceHeight() const { return FSourceHeight > 0 ? FSourceHeight : FHeight; }
  bool IsScaledFromSource() const { return SourceWidth() != FWidth || SourceHeight() != FHeight; }
  // Call after the pixels are in place (SetSize forgets the value).
  void SetSourceSize(int32_t Width, int32_t Height) {
    FSourceWidth = Width;
    FSourceHeight = Height;
  }
  // Kept for the framework's interface; access is serialised by the owner.
  void Lock() {}
  void Unlock() {}

  // ---- Assignment
  // Takes the source's size and copies its pixels, or, while smoothing is
  // on, runs the smoothing update with the source as the new frame.
  virtual void AssignKzMBitmap(const TKzMCustomBitmap& Source);
  // Exchanges size and pixels with Other without copying them (a frame
  // handed from one thread to the next under the lock of the list it goes
  // through). The smoothing state stays with each bitmap and restarts where
  // the pixel count changes; UpdateTime travels with the pixels.
  void SwapPixels(TKzMCustomBitmap& Other);
  // Imports a raw frame. Source rows are padded to 4 bytes; BottomUp means
  // the first row in Bits is the bottom row of the picture; SwapRB exchanges
  // red and blue. Depths 32, 24, 16 (5-6-5) and 15 (5-5-5) are converted;
  // any other depth leaves the pixels as they are after resizing.
  void AssignFromDIB(int32_t BitsPerPixel, int32_t Width, int32_t Height, const void* Bits, bool BottomUp,
                     bool SwapRB);
  // Bytes one source row of AssignFromDIB occupies.
  static int64_t DIBRowBytes(int32_t BitsPerPixel, int32_t Width) {
    return ((static_cast<int64_t>(Width) * BitsPerPixel + 31) / 32) * 4;
  }

  // ---- Filling and drawing (all clipped to the bitmap)
  // Every byte of the pixels := Value. Restarts smoothing.
  void FillData(uint8_t Value);
  // Opaque white. Restarts smoothing.
  void Reset() { FillData(255); }
  // Count bytes from pixel First on := Value (clipped to the pixels). Restarts smoothing.
  void FillCharEx(int64_t First, int64_t Count, uint8_t Value);
  void FillRect(const TRect& Rect, uint32_t Color);
  // A one-pixel outline of (Left, Top)-(Right, Bottom), right and bottom excluded.
  void Rectangle(int32_t Left, int32_t Top, int32_t Right, int32_t Bottom, uint32_t Color);
  // Copies SourceRect of Source into DestRect. Equal sizes copy pixel for
  // pixel; different sizes resample bilinearly (see the .cpp). With
  // Transparent, source pixels equal to TransparentColor are left out.
  void CopyRect(const TRect& DestRect, const TKzMCustomBitmap& Source, const TRect& SourceRect,
                bool Transparent = false, uint32_t TransparentColor = 0);
  void Draw(int32_t X, int32_t Y, const TKzMCustomBitmap& Source, bool Transparent = false,
            uint32_t TransparentColor = 0);
  void StretchDraw(const TRect& Rect, const TKzMCustomBitmap& Source, bool Transparent = false,
                   uint32_t TransparentColor = 0);

  // ---- Packed 24-bit pixels (B, G, R per pixel, no row padding)
  std::vector<uint8_t> GetDIB24() const;
  // Reads GetLength() * 3 bytes; alpha := 255.
  void SetDIB24(const uint8_t* Buffer);
  // Every pixel's colour bytes := their average (alpha kept).
  void Grayscale();

  // ---- BMP files (bodies in fmxMKzBitmapBMP.cpp)
  // A 24-bit (or 32-bit) bottom-up BMP file at 3780 pixels per metre.
  void SaveToStream(TStream& Stream) const;
  void SaveToStream32bit(TStream& Stream) const;
  // Reads an uncompressed BMP file (1, 4, 8, 24 or 32 bits) from the
  // stream's position. False, with the bitmap unchanged, for anything else.
  bool LoadFromStream(TStream& Stream);
  bool SaveToFile(const std::string& FileName, TKzMTypeBitmap Type = TKzMTypeBitmap::kzmtb24) const;
  bool LoadFromFile(const std::string& FileName);

  // ---- Temporal smoothing (bodies in fmxMKzBitmapSmooth.cpp)
  bool SmoothImage() const { return FSmoothImage; }
  void SetSmoothImage(bool On);
  int32_t SmoothCount() const { return FSmoothCount; }

  // ---- Update bookkeeping
  void UpdateInfo();
  // Brings the pixels up to date with the bound framework bitmap.
  void Update() {
    if (GetBitmap() != nullptr && GetBitmap() != this) UpdateData();
  }
  void ResetModify() { Modified = ModifiedData = false; }

  int64_t UpdateTime = 0;  // tick count of the last smoothing update
  bool Modified = false;
  bool ModifiedData = false;
  int64_t LastUpdateTickCount = 0;
  int32_t UpdateIndex = 0;

protected:
  void Changed() { Modified = ModifiedData = true; }
  void CopyPixels(const TKzMCustomBitmap& Source);
  void RestartSmoothing();
  void SmoothUpdate(const TKzMCustomBitmap& Frame);

  int32_t FWidth = 0;
  int32_t FHeight = 0;
  int32_t FBytesPerLine = 0;
  int32_t FSourceWidth = 0;  // 0: the bitmap's own size
  int32_t FSourceHeight = 0;
  std::vector<uint32_t, TKzPagesAllocator<uint32_t>> FData;  // a picture of 256x128 or more is pages of its own

  bool FSmoothImage = false;
  std::vector<std::unique_ptr<TKzMCustomBitmap>> ListImg;  // oldest first, at most 3
  std::vector<uint16_t> SumData;                            // 4 sums per pixel, B G R A
  int32_t FSmoothCount = 0;
};

// The bitmap that is bound to the framework. On this platform the framework
// bitmap is the library bitmap itself, so the binding is the identity.
class TKzMBitmap : public TKzMCustomBitmap {
public:
  using TKzMCustomBitmap::TKzMCustomBitmap;
  TKzMBitmap() = default;
  TKzMBitmap(const TKzMBitmap& Source) : TKzMCustomBitmap(Source) {}
  TKzMBitmap& operator=(const TKzMBitmap& Source) {
    TKzMCustomBitmap::operator=(Source);
    return *this;
  }

  TKzMCustomBitmap* GetBitmap() override { return this; }
  // Copies the pixels into Dest when it is a library bitmap.
  void AssignTo(TPersistent& Dest) const;
};

// The pixels of a bitmap as a surface, so that the canvas and the resampler
// draw into it. The surface is valid until the bitmap is resized or freed;
// drawing through it does not mark the bitmap modified.
inline TKzPixelSurface KzPixelSurfaceOf(TKzMCustomBitmap& Bitmap) {
  return {Bitmap.Data(), Bitmap.Width(), Bitmap.Height(), Bitmap.Width()};
}
// The same for reading only (a source of DrawBitmap or of a resampler).
inline TKzPixelSurface KzPixelSurfaceOf(const TKzMCustomBitmap& Bitmap) {
  return {const_cast<uint32_t*>(Bitmap.Data()), Bitmap.Width(), Bitmap.Height(), Bitmap.Width()};
}

}  // namespace kz
