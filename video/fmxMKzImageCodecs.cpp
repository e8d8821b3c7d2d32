#include "video/fmxMKzImageCodecs.h"

#include <png.h>
#include <turbojpeg.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "video/fmxMKzLibJpeg.h"

namespace kz {

namespace {

bool Fail(std::string* Error, const std::string& Text) {
  if (Error != nullptr) *Error = Text;
  return false;
}

constexpr uint8_t PngSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};

// ---- TurboJPEG handles, one of each kind per thread

struct TTjHandleDeleter {
  void operator()(void* h) const {
    if (h != nullptr) tjDestroy(h);
  }
};
using TTjHandle = std::unique_ptr<void, TTjHandleDeleter>;

tjhandle Decompressor() {
  thread_local TTjHandle h(tjInitDecompress());
  return h.get();
}
tjhandle Compressor() {
  thread_local TTjHandle h(tjInitCompress());
  return h.get();
}

// ---- libpng glue

struct TPngReadSource {
  const uint8_t* Data;
  size_t Size;
  size_t Pos;
};

struct TPngErrorState {
  char Text[256];
};

void PngError(png_structp png, png_const_charp msg) {
  auto* st = static_cast<TPngErrorState*>(png_get_error_ptr(png));
  snprintf(st->Text, sizeof(st->Text), "PNG: %s", msg);
  png_longjmp(png, 1);
}
void PngWarning(png_structp, png_const_charp) {}

void PngRead(png_structp png, png_bytep out, png_size_t count) {
  auto* src = static_cast<TPngReadSource*>(png_get_io_ptr(png));
  if (count > src->Size - src->Pos) png_error(png, "data ends inside the picture");
  memcpy(out, src->Data + src->Pos, count);
  src->Pos += count;
}

void PngWrite(png_structp png, png_bytep data, png_size_t count) {
  auto* s = static_cast<TStream*>(png_get_io_ptr(png));
  if (s->Write(data, static_cast<int64_t>(count)) != static_cast<int64_t>(count)) png_error(png, "write failed");
}
void PngFlush(png_structp) {}

}  // namespace

TKzImageFormat KzDetectImageFormat(const uint8_t* Data, size_t Size) {
  if (Data == nullptr) return TKzImageFormat::kzifUnknown;
  if (Size >= 3 && Data[0] == 0xFF && Data[1] == 0xD8 && Data[2] == 0xFF) return TKzImageFormat::kzifJPEG;
  if (Size >= 8 && memcmp(Data, PngSignature, 8) == 0) return TKzImageFormat::kzifPNG;
  if (Size >= 2 && Data[0] == 'B' && Data[1] == 'M') return TKzImageFormat::kzifBMP;
  return TKzImageFormat::kzifUnknown;
}

const char* KzImageFormatName(TKzImageFormat Format) {
  switch (Format) {
    case TKzImageFormat::kzifJPEG: return "JPEG";
    case TKzImageFormat::kzifPNG: return "PNG";
    case TKzImageFormat::kzifBMP: return "BMP";
    case TKzImageFormat::kzifUnknown: break;
  }
  return "unknown";
}

bool KzCodecDecode(const uint8_t* Data, size_t Size, TKzMCustomBitmap& Bitmap, std::string* Error) {
  switch (KzDetectImageFormat(Data, Size)) {
    case TKzImageFormat::kzifJPEG: return KzCodecDecodeJPEG(Data, Size, Bitmap, Error);
    case TKzImageFormat::kzifPNG: return KzCodecDecodePNG(Data, Size, Bitmap, Error);
    case TKzImageFormat::kzifBMP: {
      TMemoryStream s;
      s.Write(Data, static_cast<int64_t>(Size));
      s.SetPosition(0);
      if (Bitmap.LoadFromStream(s)) return true;
      return Fail(Error, "BMP: not an uncompressed BMP picture, or the data ends inside it");
    }
    case TKzImageFormat::kzifUnknown: break;
  }
  return Fail(Error, "not a JPEG, PNG or BMP picture");
}

bool KzCodecDecodeJPEG(const uint8_t* Data, size_t Size, TKzMCustomBitmap& Bitmap, std::string* Error) {
  tjhandle h = Decompressor();
  if (h == nullptr) return Fail(Error, "JPEG: no TurboJPEG decompressor");
  if (Size > static_cast<size_t>(INT32_MAX)) return Fail(Error, "JPEG: data too large");
  int w = 0, ht = 0, subsamp = 0, colorspace = 0;
  auto* buf = const_cast<unsigned char*>(Data);
  const auto len = static_cast<unsigned long>(Size);
  if (tjDecompressHeader3(h, buf, len, &w, &ht, &subsamp, &colorspace) != 0)
    return Fail(Error, std::string("JPEG: ") + tjGetErrorStr2(h));
  if (w <= 0 || ht <= 0 || static_cast<int64_t>(w) * ht > KzMaxImagePixels)
    return Fail(Error, "JPEG: image too large: " + std::to_string(w) + "x" + std::to_string(ht));
  Bitmap.SetSize(w, ht);
  if (tjDecompress2(h, buf, len, reinterpret_cast<unsigned char*>(Bitmap.Data()), w, w * 4, ht, TJPF_BGRA,
                    TJFLAG_LIMITSCANS) != 0 &&
      tjGetErrorCode(h) != TJERR_WARNING)  // a warning (e.g. a truncated picture) still gives the picture
    return Fail(Error, std::string("JPEG: ") + tjGetErrorStr2(h));
  Bitmap.Modified = Bitmap.ModifiedData = true;
  return true;
}

bool KzCodecDecodePNG(const uint8_t* Data, size_t Size, TKzMCustomBitmap& Bitmap, std::string* Error) {
  TPngErrorState err{};
  TPngReadSource src{Data, Size, 0};
  std::vector<png_bytep> rows;
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &err, PngError, PngWarning);
  if (png == nullptr) return Fail(Error, "PNG: out of memory");
  png_infop info = png_create_info_struct(png);
  if (info == nullptr) {
    png_destroy_read_struct(&png, nullptr, nullptr);
    return Fail(Error, "PNG: out of memory");
  }
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    return Fail(Error, err.Text);
  }
  png_set_read_fn(png, &src, PngRead);
  png_read_info(png, info);
  const png_uint_32 w = png_get_image_width(png, info);
  const png_uint_32 h = png_get_image_height(png, info);
  if (static_cast<int64_t>(w) * h > KzMaxImagePixels) png_error(png, "image too large");
  const int colourType = png_get_color_type(png, info);
  const bool alpha = (colourType & PNG_COLOR_MASK_ALPHA) != 0 || png_get_valid(png, info, PNG_INFO_tRNS) != 0;
  png_set_expand(png);
  png_set_scale_16(png);
  if ((colourType & PNG_COLOR_MASK_COLOR) == 0) png_set_gray_to_rgb(png);
  png_set_bgr(png);
  if (!alpha) png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  if (png_get_rowbytes(png, info) != static_cast<size_t>(w) * 4) png_error(png, "unexpected pixel layout");
  Bitmap.SetSize(static_cast<int32_t>(w), static_cast<int32_t>(h));
  rows.resize(h);
  for (png_uint_32 y = 0; y < h; ++y) rows[y] = reinterpret_cast<png_bytep>(Bitmap.ScanLine(static_cast<int32_t>(y)));
  png_read_image(png, rows.data());
  png_read_end(png, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
  Bitmap.Modified = Bitmap.ModifiedData = true;
  return true;
}

bool KzCodecEncodeJPEG(const TKzMCustomBitmap& Bitmap, TStream& Stream, int32_t Quality, std::string* Error) {
  if (Bitmap.IsEmpty()) return Fail(Error, "JPEG: empty picture");
  tjhandle h = Compressor();
  if (h == nullptr) return Fail(Error, "JPEG: no TurboJPEG compressor");
  unsigned char* out = nullptr;
  unsigned long outSize = 0;
  const int rc = tjCompress2(h, reinterpret_cast<const unsigned char*>(Bitmap.Data()), Bitmap.Width(),
                             Bitmap.Width() * 4, Bitmap.Height(), TJPF_BGRX, &out, &outSize, TJSAMP_420,
                             std::clamp(Quality, 1, 100), TJFLAG_ACCURATEDCT);  // as cjpeg and libjpeg do
  if (rc != 0) {
    tjFree(out);
    return Fail(Error, std::string("JPEG: ") + tjGetErrorStr2(h));
  }
  const bool ok = Stream.Write(out, static_cast<int64_t>(outSize)) == static_cast<int64_t>(outSize);
  tjFree(out);
  return ok || Fail(Error, "JPEG: write failed");
}

bool KzCodecEncodePNG(const TKzMCustomBitmap& Bitmap, TStream& Stream, std::string* Error) {
  if (Bitmap.IsEmpty()) return Fail(Error, "PNG: empty picture");
  bool alpha = false;
  for (int64_t i = 0; i < Bitmap.GetLength() && !alpha; ++i) alpha = (Bitmap.Data()[i] >> 24) != 0xFF;
  TPngErrorState err{};
  std::vector<png_bytep> rows(static_cast<size_t>(Bitmap.Height()));
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &err, PngError, PngWarning);
  if (png == nullptr) return Fail(Error, "PNG: out of memory");
  png_infop info = png_create_info_struct(png);
  if (info == nullptr) {
    png_destroy_write_struct(&png, nullptr);
    return Fail(Error, "PNG: out of memory");
  }
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return Fail(Error, err.Text);
  }
  png_set_write_fn(png, &Stream, PngWrite, PngFlush);
  png_set_IHDR(png, info, static_cast<png_uint_32>(Bitmap.Width()), static_cast<png_uint_32>(Bitmap.Height()), 8,
               alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  png_set_bgr(png);
  if (!alpha) png_set_filler(png, 0, PNG_FILLER_AFTER);  // drops the fourth byte on writing
  for (int32_t y = 0; y < Bitmap.Height(); ++y)
    rows[static_cast<size_t>(y)] = reinterpret_cast<png_bytep>(const_cast<uint32_t*>(Bitmap.ScanLine(y)));
  png_write_image(png, rows.data());
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return true;
}

bool KzCodecEncodeBMP(const TKzMCustomBitmap& Bitmap, TStream& Stream, std::string* Error) {
  if (Bitmap.IsEmpty()) return Fail(Error, "BMP: empty picture");
  Bitmap.SaveToStream(Stream);
  return true;
}

}  // namespace kz
