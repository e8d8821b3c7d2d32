#include "video/Fmxmkzwavelet.h"

#include <algorithm>
#include <bit>

#include "video/fmxMKzImageFiles.h"

namespace kz {

namespace {

uint8_t Blue(uint32_t P) { return static_cast<uint8_t>(P); }
uint8_t Green(uint32_t P) { return static_cast<uint8_t>(P >> 8); }
uint8_t Red(uint32_t P) { return static_cast<uint8_t>(P >> 16); }

// Dest := Source grown by AddW columns and AddH rows, the added ones copies
// of the last column and row.
void PadCopy(const TKzMCustomBitmap& Source, TKzMCustomBitmap& Dest, int32_t AddW, int32_t AddH) {
  const int32_t w = Source.Width(), h = Source.Height();
  Dest.SetSize(w + AddW, h + AddH);
  if (w == 0 || h == 0) {
    Dest.FillData(0);
    return;
  }
  for (int32_t y = 0; y < h + AddH; ++y) {
    const uint32_t* s = Source.ScanLine(std::min(y, h - 1));
    uint32_t* d = Dest.ScanLine(y);
    std::copy_n(s, w, d);
    std::fill_n(d + w, AddW, s[w - 1]);
  }
}

template <typename T>
void Grow(std::vector<T>& Plane, int64_t Size) {
  if (static_cast<int64_t>(Plane.size()) < Size) Plane.resize(static_cast<size_t>(Size));
}

}  // namespace

TWavelet::TWavelet() { Init(); }

TWavelet::~TWavelet() { FreeData(); }

void TWavelet::Init() {
  FKzBitmapHWL = std::make_unique<TKzMBitmap>();
  pic_bitmap.SetSize(1, 1);
  pic_width = pic_height = 1;
  pic_bpp = 24;
  BufSizeGS = BufSizeRGB = 0;
  for (auto* f : {&pic_quantfactor, &pic_quantfactorr, &pic_quantfactorg, &pic_quantfactorb})
    f->assign(HWL_FactorRoom, 0.0);
  init_dirty_flag = true;
}

void TWavelet::FreeData() {
  freeMemGS();
  freeMemRGB();
  FKzBitmapHWL.reset();
}

void TWavelet::SetSourceImage(const TKzMCustomBitmap& Bitmap) { PadCopy(Bitmap, pic_bitmap, 1, 1); }

void TWavelet::SetDefault() {
  pic_subdivisiondepth = MaxSubdivisionSpin;
  pic_eps = 25;
  pic_quantbitsy = 6;
  pic_quantbitsu = pic_quantbitsv = 8;
}

void TWavelet::SetBest() {
  pic_subdivisiondepth = 0;
  pic_eps = 0;
  pic_quantbitsy = pic_quantbitsu = pic_quantbitsv = 8;
}

void TWavelet::SetCompressionQuality(int32_t Q) {
  Q = std::clamp(Q, 0, 100);
  const int32_t c = 100 - Q;
  pic_eps = c / 5;
  pic_subdivisiondepth = std::min(c / 14, 7);
  pic_quantbitsy = std::max(Q / 14 + 1, 3);
  pic_quantbitsu = pic_quantbitsv = std::min(Q / 14, 7) + 1;
}

int32_t TWavelet::getMaxSubdivisionDepth() {
  // The padding column or row of an odd size is dropped by the first level.
  const int32_t t = std::min(std::countr_zero(static_cast<uint32_t>(pic_width & ~1)),
                             std::countr_zero(static_cast<uint32_t>(pic_height & ~1)));
  MaxSubdivisionSpin = t >= 2 ? t - 1 : 0;
  pic_subdivisiondepth = std::clamp(pic_subdivisiondepth, 0, MaxSubdivisionSpin);
  return MaxSubdivisionSpin;
}

int32_t TWavelet::getBPP() const {
  const uint32_t* p = pic_bitmap.Data();
  for (int64_t i = 0, n = pic_bitmap.GetLength(); i < n; ++i)
    if (Red(p[i]) != Green(p[i]) || Green(p[i]) != Blue(p[i])) return 24;
  return 8;
}

void TWavelet::allocMemGS() {
  const int64_t n = PlaneSize();
  if (n <= BufSizeGS) return;
  Grow(pic_oBMP, n);
  Grow(pic_HWL, n);
  Grow(pic_qHWL, n);
  BufSizeGS = n;
}

void TWavelet::freeMemGS() {
  for (auto* p : {&pic_oBMP, &pic_BMP, &pic_HWL}) std::vector<double>().swap(*p);
  std::vector<int32_t>().swap(pic_qHWL);
  BufSizeGS = 0;
}

void TWavelet::allocMemRGB() {
  const int64_t n = PlaneSize();
  if (n <= BufSizeRGB) return;
  for (auto* p : {&pic_oBMPr, &pic_oBMPg, &pic_oBMPb, &pic_HWLr, &pic_HWLg, &pic_HWLb}) Grow(*p, n);
  for (auto* p : {&pic_qHWLr, &pic_qHWLg, &pic_qHWLb}) Grow(*p, n);
  BufSizeRGB = n;
}

void TWavelet::freeMemRGB() {
  for (auto* p : {&pic_oBMPr, &pic_oBMPg, &pic_oBMPb, &pic_BMPr, &pic_BMPg, &pic_BMPb, &pic_HWLr, &pic_HWLg, &pic_HWLb})
    std::vector<double>().swap(*p);
  for (auto* p : {&pic_qHWLr, &pic_qHWLg, &pic_qHWLb}) std::vector<int32_t>().swap(*p);
  BufSizeRGB = 0;
}

void TWavelet::copyBitmap2DoubleGS() {
  const uint32_t* p = pic_bitmap.Data();
  for (int64_t i = 0, n = PlaneSize(); i < n; ++i) pic_oBMP[i] = Blue(p[i]);
}

void TWavelet::copyBitmap2DoubleRGB() {
  const uint32_t* p = pic_bitmap.Data();
  for (int64_t i = 0, n = PlaneSize(); i < n; ++i) {
    pic_oBMPr[i] = Red(p[i]);
    pic_oBMPg[i] = Green(p[i]);
    pic_oBMPb[i] = Blue(p[i]);
  }
}

void TWavelet::copyDouble2BitmapGS() {
  uint32_t* p = FKzBitmapHWL->Data();
  for (int64_t i = 0, n = PlaneSize(); i < n; ++i) {
    const uint32_t v = KzHWLClampByte(pic_BMP[i]);
    p[i] = 0xFF000000u | v << 16 | v << 8 | v;
  }
}

void TWavelet::copyDouble2BitmapRGB() {
  uint32_t* p = FKzBitmapHWL->Data();
  for (int64_t i = 0, n = PlaneSize(); i < n; ++i)
    p[i] = 0xFF000000u | static_cast<uint32_t>(KzHWLClampByte(pic_BMPr[i])) << 16 |
           static_cast<uint32_t>(KzHWLClampByte(pic_BMPg[i])) << 8 | KzHWLClampByte(pic_BMPb[i]);
}

void TWavelet::copyBitmap() {
  ReLoadHWL();
  if (pic_bpp == 8)
    copyDouble2BitmapGS();
  else
    copyDouble2BitmapRGB();
}

void TWavelet::ReLoadHWL() { FKzBitmapHWL->SetSize(pic_width, pic_height); }

void TWavelet::SetHWL(const HWL_Header& Header) {
  pic_width = Header.width;
  pic_height = Header.height;
  pic_bpp = Header.bpp;
  pic_subdivisiondepth = Header.depth;
  pic_quantbitsy = Header.quantbitsy;
  pic_quantbitsu = Header.quantbitsu;
  pic_quantbitsv = Header.quantbitsv;
  pic_eps = 0;
  pic_bitmap.SetSize(pic_width, pic_height);
}

void TWavelet::ReLoad() {
  pic_width = pic_bitmap.Width();
  pic_height = pic_bitmap.Height();
  pic_bpp = getBPP();
  getMaxSubdivisionDepth();
  if (pic_bpp == 8) {
    allocMemGS();
    copyBitmap2DoubleGS();
  } else {
    allocMemRGB();
    copyBitmap2DoubleRGB();
  }
  pic_subdivisiondepth = MaxSubdivisionSpin;
  pic_eps = 25;
  pic_quantbitsy = 6;
  pic_quantbitsu = pic_quantbitsv = 8;
}

void TWavelet::ReCalcHWL(bool WithPreview) {
  getMaxSubdivisionDepth();
  const int32_t w = pic_width, h = pic_height, d = pic_subdivisiondepth;
  if (pic_bpp == 8)
    WaveletGS(pic_oBMP.data(), pic_HWL.data(), w, h, w, h, d);
  else
    WaveletRGB(pic_oBMPr.data(), pic_oBMPg.data(), pic_oBMPb.data(), pic_HWLr.data(), pic_HWLg.data(), pic_HWLb.data(),
               w, h, w, h, d);
  Quantise();
  if (WithPreview) Preview();
}

// Threshold and quantiser on the transformed planes.
void TWavelet::Quantise() {
  const int32_t w = pic_width, h = pic_height, d = pic_subdivisiondepth;
  if (pic_bpp == 8) {
    KzHWLThresholdQuant(pic_HWL.data(), pic_qHWL.data(), w, h, d, pic_eps, pic_quantbitsy, pic_quantfactor.data());
  } else {
    KzHWLThresholdQuant(pic_HWLr.data(), pic_qHWLr.data(), w, h, d, pic_eps, pic_quantbitsy, pic_quantfactorr.data());
    KzHWLThresholdQuant(pic_HWLg.data(), pic_qHWLg.data(), w, h, d, pic_eps, pic_quantbitsu, pic_quantfactorg.data());
    KzHWLThresholdQuant(pic_HWLb.data(), pic_qHWLb.data(), w, h, d, pic_eps, pic_quantbitsv, pic_quantfactorb.data());
  }
  FPreviewPending = true;
}

// Dequantises and transforms back what was just coded, into the result.
void TWavelet::Preview() {
  const int32_t w = pic_width, h = pic_height, d = pic_subdivisiondepth;
  const int64_t n = PlaneSize();
  if (pic_bpp == 8) {
    Grow(pic_BMP, n);
    DeWaveletQuantGS(pic_qHWL.data(), pic_BMP.data(), w, h, d, pic_quantfactor.data());
    DeWaveletGS(pic_BMP.data(), pic_BMP.data(), w, h, w, h, d);
  } else {
    for (auto* p : {&pic_BMPr, &pic_BMPg, &pic_BMPb}) Grow(*p, n);
    DeWaveletQuantRGB(pic_qHWLr.data(), pic_qHWLg.data(), pic_qHWLb.data(), pic_HWLr.data(), pic_HWLg.data(),
                      pic_HWLb.data(), w, h, d, pic_quantfactorr.data(), pic_quantfactorg.data(),
                      pic_quantfactorb.data());
    DeWaveletRGB(pic_BMPr.data(), pic_BMPg.data(), pic_BMPb.data(), pic_HWLr.data(), pic_HWLg.data(), pic_HWLb.data(),
                 w, h, w, h, d);
  }
  copyBitmap();
  FPreviewPending = false;
}

TKzMBitmap& TWavelet::BitmapHWL() {
  if (FPreviewPending) Preview();
  return *FKzBitmapHWL;
}

bool TWavelet::WriteHWLToStream(TStream& Stream) {
  const int32_t w = pic_bitmap.Width(), h = pic_bitmap.Height();
  if (w < 2 || h < 2 || w > HWL_MaxCoded || h > HWL_MaxCoded) return false;
  pic_width = w;
  pic_height = h;
  getMaxSubdivisionDepth();
  // Straight from the pixels into the transform planes (the source planes
  // would hold the same numbers), thresholded and quantised on the way.
  const bool grey = pic_bpp == 8;
  if (grey)
    allocMemGS();
  else
    allocMemRGB();
  double* planes[3] = {grey ? pic_HWL.data() : pic_HWLr.data(), pic_HWLg.data(), pic_HWLb.data()};
  int32_t* quant[3] = {grey ? pic_qHWL.data() : pic_qHWLr.data(), pic_qHWLg.data(), pic_qHWLb.data()};
  double* factors[3] = {grey ? pic_quantfactor.data() : pic_quantfactorr.data(), pic_quantfactorg.data(),
                        pic_quantfactorb.data()};
  const int32_t bits[3] = {pic_quantbitsy, pic_quantbitsu, pic_quantbitsv};
  // Each row is coded as soon as it is quantised.
  for (int32_t p = 0; p < (grey ? 1 : 3); ++p)
    if (bits[p] < 1 || bits[p] > 8) return false;
  KzHWLEncodePixels(pic_bitmap.Data(), w, h, grey, pic_subdivisiondepth, pic_eps, bits, planes, quant, factors, FCoded);
  FPreviewPending = true;
  return KzHWLWriteCoded(Stream, w, h, pic_bpp, pic_subdivisiondepth, factors, bits, FCoded);
}

void TWavelet::TakeDecoded() {
  SetHWL(FPlanes.Header);
  const int32_t planes = FPlanes.Header.Planes();
  std::vector<double>* factors[3] = {&pic_quantfactor, &pic_quantfactorg, &pic_quantfactorb};
  std::vector<int32_t>* quant[3] = {&pic_qHWL, &pic_qHWLg, &pic_qHWLb};
  if (planes == 3) {
    factors[0] = &pic_quantfactorr;
    quant[0] = &pic_qHWLr;
  }
  // The coarser bands dequantised into the result planes and transformed
  // back there, the finest level straight into the result bitmap.
  std::vector<double>* work[3] = {planes == 1 ? &pic_BMP : &pic_BMPr, &pic_BMPg, &pic_BMPb};
  double* workPlanes[3] = {nullptr, nullptr, nullptr};
  const int32_t* quantPlanes[3] = {nullptr, nullptr, nullptr};
  const double* factorTables[3] = {nullptr, nullptr, nullptr};
  for (int32_t p = 0; p < planes; ++p) {
    work[p]->resize(static_cast<size_t>(PlaneSize()));  // every entry read is written first
    workPlanes[p] = work[p]->data();
    quantPlanes[p] = FPlanes.Q[p].data();
    factorTables[p] = FPlanes.F[p].data();
  }
  ReLoadHWL();
  KzHWLDecodeToPixels(quantPlanes, factorTables, workPlanes, planes, pic_width, pic_height, pic_subdivisiondepth,
                      FKzBitmapHWL->Data());
  for (int32_t p = 0; p < planes; ++p) {
    std::copy(FPlanes.F[p].begin(), FPlanes.F[p].end(), factors[p]->begin());
    quant[p]->swap(FPlanes.Q[p]);
  }
  // The swapped-in planes are the current buffers now.
  if (planes == 1)
    BufSizeGS = std::min<int64_t>(BufSizeGS, static_cast<int64_t>(pic_qHWL.size()));
  else
    BufSizeRGB = std::min<int64_t>(BufSizeRGB, static_cast<int64_t>(pic_qHWLr.size()));
  FPreviewPending = false;
}

bool TWavelet::ReadHWLFromStream(TStream& Stream) {
  if (!kz::ReadHWLFromStream(Stream, FPlanes)) return false;
  TakeDecoded();
  return true;
}

bool TWavelet::LoadFileBMP(const std::string& FileName) {
  TKzMBitmap picture;
  if (!KzDecodeImageFile(FileName, picture, FLastError)) return false;
  if (picture.Width() > HWL_MaxPicture || picture.Height() > HWL_MaxPicture || picture.Width() < 2 ||
      picture.Height() < 2) {
    FLastError = FileName + ": " + std::to_string(picture.Width()) + "x" + std::to_string(picture.Height()) +
                 " is outside 2..3000 pixels";
    return false;
  }
  PadCopy(picture, pic_bitmap, picture.Width() & 1, picture.Height() & 1);
  ReLoad();
  pic_subdivisiondepth = 3;
  getMaxSubdivisionDepth();
  ReLoadHWL();
  init_dirty_flag = false;
  return true;
}

bool TWavelet::OpenHWL(const std::string& FileName) {
  if (!ReadHWL(FileName, FPlanes)) {
    FLastError = FileName + ": not a readable HWL picture";
    return false;
  }
  TakeDecoded();
  pic_bitmap.AssignKzMBitmap(*FKzBitmapHWL);
  return true;
}

bool TWavelet::SaveHWL(const std::string& FileName) {
  const bool grey = pic_bpp == 8;
  const std::vector<int32_t>& q1 = grey ? pic_qHWL : pic_qHWLr;
  if (static_cast<int64_t>(q1.size()) < PlaneSize() ||
      (!grey && static_cast<int64_t>(pic_qHWLb.size()) < PlaneSize())) {
    FLastError = FileName + ": nothing coded yet";
    return false;
  }
  const bool ok =
      grey ? WriteHWL(FileName, pic_qHWL.data(), nullptr, nullptr, pic_width, pic_height, 8, pic_subdivisiondepth,
                      pic_quantfactor.data(), nullptr, nullptr, pic_quantbitsy, pic_quantbitsu, pic_quantbitsv)
           : WriteHWL(FileName, pic_qHWLr.data(), pic_qHWLg.data(), pic_qHWLb.data(), pic_width, pic_height, 24,
                      pic_subdivisiondepth, pic_quantfactorr.data(), pic_quantfactorg.data(), pic_quantfactorb.data(),
                      pic_quantbitsy, pic_quantbitsu, pic_quantbitsv);
  if (!ok) FLastError = FileName + ": cannot be written";
  return ok;
}

}  // namespace kz
