#include "video/fmxMKzImageFiles.h"

#include <algorithm>
#include <cctype>

#include "video/fmxMKzImageCodecs.h"
#include "video/fmxMKzImageWrapper.h"

namespace kz {

namespace {

std::string LowerExtension(const std::string& FileName) {
  const size_t dot = FileName.rfind('.');
  const size_t slash = FileName.rfind('/');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return std::string();
  std::string ext = FileName.substr(dot);
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
  return ext;
}

bool WritePPM(const TKzMCustomBitmap& Bitmap, TStream& Stream) {
  const std::string head = "P6\n" + std::to_string(Bitmap.Width()) + " " + std::to_string(Bitmap.Height()) + "\n255\n";
  if (Stream.Write(head.data(), static_cast<int64_t>(head.size())) != static_cast<int64_t>(head.size())) return false;
  std::vector<uint8_t> row(static_cast<size_t>(Bitmap.Width()) * 3);
  for (int32_t y = 0; y < Bitmap.Height(); ++y) {
    const uint32_t* s = Bitmap.ScanLine(y);
    for (int32_t x = 0; x < Bitmap.Width(); ++x) {
      row[x * 3] = static_cast<uint8_t>(s[x] >> 16);
      row[x * 3 + 1] = static_cast<uint8_t>(s[x] >> 8);
      row[x * 3 + 2] = static_cast<uint8_t>(s[x]);
    }
    if (Stream.Write(row.data(), static_cast<int64_t>(row.size())) != static_cast<int64_t>(row.size())) return false;
  }
  return true;
}

}  // namespace

bool KzDecodeImageFile(const std::string& FileName, TKzMCustomBitmap& Bitmap, std::string& Error) {
  TKzImageWrapper coder;
  if (coder.LoadFromFile(FileName, &Bitmap)) return true;
  Error = FileName + ": " + coder.ErrorText();
  return false;
}

bool KzWriteImageFile(const TKzMCustomBitmap& Bitmap, const std::string& FileName, std::string& Error) {
  const std::string ext = LowerExtension(FileName);
  if (ext != ".ppm" && ext != ".png" && ext != ".bmp" && ext != ".jpg" && ext != ".jpeg") {
    Error = FileName + ": unknown output format (use .ppm, .png, .bmp or .jpg)";
    return false;
  }
  if (Bitmap.IsEmpty()) {
    Error = FileName + ": empty picture";
    return false;
  }
  TFileStream f(FileName, TFileMode::fmCreate);
  if (!f.Valid()) {
    Error = FileName + ": cannot create the file";
    return false;
  }
  std::string why;
  bool ok;
  if (ext == ".ppm") {
    ok = WritePPM(Bitmap, f);
  } else if (ext == ".png") {
    ok = KzCodecEncodePNG(Bitmap, f, &why);
  } else if (ext == ".bmp") {
    ok = KzCodecEncodeBMP(Bitmap, f, &why);
  } else {
    TKzImageWrapper coder;
    ok = coder.SaveToStream(f, &Bitmap, KzDefaultJpegQuality);
    why = coder.ErrorText();
  }
  if (!ok) Error = FileName + ": " + (why.empty() ? std::string("write failed") : why);
  return ok;
}

bool KzConvertImageFile(const std::string& InFile, const std::string& OutFile, std::string& Error) {
  TKzMBitmap bitmap;
  return KzDecodeImageFile(InFile, bitmap, Error) && KzWriteImageFile(bitmap, OutFile, Error);
}

}  // namespace kz
