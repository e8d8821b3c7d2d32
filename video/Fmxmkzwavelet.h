// TWavelet: codes a bitmap as an HWL picture and decodes HWL pictures back
// into a bitmap, keeping its working planes and settings between pictures.
// One object per user (a sender, a decoding thread, a command-line run): it
// has no lock, and every method runs on the thread of its owner. Nothing
// blocks except the file methods on the file system.
//
// Coding a frame: SetSourceImage(frame), SetDefault, SetCompressionQuality(Q),
// WriteHWLToStream(stream). The source image travels one column and one row
// larger (copies of the last ones); the depth is limited on the even part of
// the size, so the first level drops only that padding.
// Decoding: ReadHWLFromStream(bytes), then BitmapHWL (opaque, alpha 255).
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "foundation/fmxMKzBitmap.h"
#include "platform/fmxMKzPlatformStream.h"
#include "video/Fmxmkzwavecodes.h"
#include "video/Fmxmkzwavefuncs.h"

namespace kz {

class TWavelet {
 public:
  TWavelet();  // Init
  ~TWavelet();
  TWavelet(const TWavelet&) = delete;
  TWavelet& operator=(const TWavelet&) = delete;

  // The picture to code: a copy of Bitmap one pixel wider and higher, the
  // added column and row copies of the last ones.
  void SetSourceImage(const TKzMCustomBitmap& Bitmap);
  // Depth MaxSubdivisionSpin, eps 25, bits 6/8/8.
  void SetDefault();
  // Depth 0, eps 0, bits 8/8/8.
  void SetBest();
  // Q 0..100: eps (100-Q) div 5, depth min((100-Q) div 14, 7), bits Y
  // max(Q div 14 + 1, 3), U and V min(Q div 14, 7) + 1.
  void SetCompressionQuality(int32_t Q);

  // Codes pic_bitmap (grey or colour by pic_bpp) at the stream's position.
  // False, nothing written, for a picture below 2 x 2 or above HWL_MaxCoded.
  bool WriteHWLToStream(TStream& Stream);
  // Decodes one picture from the stream's position into BitmapHWL. False,
  // the bitmap untouched, for a stream that does not hold a valid picture.
  bool ReadHWLFromStream(TStream& Stream);
  // The decoded picture, or after coding what a decoder will show.
  TKzMBitmap& BitmapHWL();

  // ---- Files. False (and LastError says why) when a file cannot be read
  // or written or holds no picture.
  // Loads a JPEG, PNG or BMP file (an odd size is padded to even with
  // copies of the last column or row), detects grey, depth 3, eps 25, bits
  // 6/8/8. Pictures above HWL_MaxPicture are refused.
  bool LoadFileBMP(const std::string& FileName);
  // Decodes an HWL file; SaveHWL afterwards writes the same planes again.
  bool OpenHWL(const std::string& FileName);
  // Writes the quantised planes of the last coding or OpenHWL.
  bool SaveHWL(const std::string& FileName);
  const std::string& LastError() const { return FLastError; }

  // ---- Planes and settings.
  // Size, grey detection, depth clamp and source planes from pic_bitmap;
  // then depth MaxSubdivisionSpin, eps 25, bits 6/8/8.
  void ReLoad();
  // The result bitmap takes the picture's size.
  void ReLoadHWL();
  // Transform, threshold and quantise the source planes (and, with
  // Preview, dequantise and transform back into the result planes).
  void ReCalcHWL(bool Preview = false);
  // Result planes into the result bitmap.
  void copyBitmap();
  // Largest depth for the picture size (counted on the even part of the
  // size); lowers pic_subdivisiondepth to it.
  int32_t getMaxSubdivisionDepth();
  // 8 when every pixel of pic_bitmap is grey, else 24.
  int32_t getBPP() const;
  void allocMemGS();
  void freeMemGS();
  void allocMemRGB();
  void freeMemRGB();
  void copyBitmap2DoubleGS();
  void copyBitmap2DoubleRGB();
  void copyDouble2BitmapGS();
  void copyDouble2BitmapRGB();
  // Size, bpp, depth and bits from a header; eps 0.
  void SetHWL(const HWL_Header& Header);

  // ---- State
  bool init_dirty_flag = true;
  int32_t MaxSubdivisionSpin = 0;
  int64_t BufSizeGS = 0;
  int64_t BufSizeRGB = 0;
  int32_t pic_height = 1;
  int32_t pic_width = 1;
  int32_t pic_bpp = 24;
  int32_t pic_subdivisiondepth = 0;
  double pic_eps = 0;
  int32_t pic_quantbitsy = 6;
  int32_t pic_quantbitsu = 8;
  int32_t pic_quantbitsv = 8;
  std::vector<double> pic_quantfactor, pic_quantfactorr, pic_quantfactorg, pic_quantfactorb;
  // Source planes (o) and result planes: grey, and R, G, B.
  std::vector<double> pic_oBMP, pic_BMP, pic_oBMPr, pic_BMPr, pic_oBMPg, pic_BMPg, pic_oBMPb, pic_BMPb;
  // Transform planes (grey, and Y, U, V in the colour slots).
  std::vector<double> pic_HWL, pic_HWLr, pic_HWLg, pic_HWLb;
  // Quantised planes.
  std::vector<int32_t> pic_qHWL, pic_qHWLr, pic_qHWLg, pic_qHWLb;
  TKzMBitmap pic_bitmap;

 private:
  void Init();
  void FreeData();
  int64_t PlaneSize() const { return static_cast<int64_t>(pic_width) * pic_height; }
  // Shows FPlanes (just read) and keeps them as the current quantised planes.
  void TakeDecoded();
  void Preview();
  void Quantise();

  std::unique_ptr<TKzMBitmap> FKzBitmapHWL;  // the decoded or previewed picture
  THWLPlanes FPlanes;                        // reading buffers, reused
  THWLCodedPlane FCoded[3];                  // coding buffers, reused
  bool FPreviewPending = false;              // coded since the result was made
  std::string FLastError;
};

}  // namespace kz
