// HWL streams: the reader accepts or refuses without crashing or reading
// past the data; what it accepts decodes to a picture of the header's size,
// and planes written back read again unchanged.
#include <cstdint>

#include "video/Fmxmkzwavefuncs.h"
#include "video/Fmxmkzwavelet.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  kz::TMemoryStream s;
  s.Write(Data, static_cast<int64_t>(Size));
  s.SetPosition(0);
  kz::TWavelet w;
  if (!w.ReadHWLFromStream(s)) return 0;
  if (s.Position() > static_cast<int64_t>(Size)) __builtin_trap();
  kz::THWLPlanes planes;
  s.SetPosition(0);
  if (!kz::ReadHWLFromStream(s, planes)) __builtin_trap();
  const kz::HWL_Header& h = planes.Header;
  if (w.BitmapHWL().Width() != h.width || w.BitmapHWL().Height() != h.height) __builtin_trap();
  const bool grey = h.bpp == 8;
  if (h.quantbitsy > 8 || (!grey && (h.quantbitsu > 8 || h.quantbitsv > 8))) return 0;  // beyond what is coded
  kz::TMemoryStream again;
  if (!kz::WriteHWLToStream(again, planes.Q[0].data(), grey ? nullptr : planes.Q[1].data(),
                            grey ? nullptr : planes.Q[2].data(), h.width, h.height, h.bpp, h.depth, planes.F[0].data(),
                            grey ? nullptr : planes.F[1].data(), grey ? nullptr : planes.F[2].data(), h.quantbitsy,
                            h.quantbitsu, h.quantbitsv))
    __builtin_trap();
  again.SetPosition(0);
  kz::THWLPlanes back;
  if (!kz::ReadHWLFromStream(again, back)) __builtin_trap();
  for (int p = 0; p < 3; ++p)
    if (back.Q[p] != planes.Q[p] || back.F[p] != planes.F[p]) __builtin_trap();
  return 0;
}
