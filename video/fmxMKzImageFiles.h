// Picture files for command-line use: decode a JPEG, PNG or BMP file
// (recognised by content) through the image wrapper, and write a bitmap in
// the format its file name's extension names. Caller's thread; blocks on
// the file system only. Errors come back as one line naming the file.
#pragma once
#include <string>

#include "foundation/fmxMKzBitmap.h"

namespace kz {

bool KzDecodeImageFile(const std::string& FileName, TKzMCustomBitmap& Bitmap, std::string& Error);
// ".ppm" (binary P6, RGB), ".png", ".bmp" (24-bit), ".jpg"/".jpeg" (quality 95); case-insensitive.
bool KzWriteImageFile(const TKzMCustomBitmap& Bitmap, const std::string& FileName, std::string& Error);
// Both in one: InFile decoded and written to OutFile.
bool KzConvertImageFile(const std::string& InFile, const std::string& OutFile, std::string& Error);

}  // namespace kz
