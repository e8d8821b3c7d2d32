#include "video/fmxMKzChangeDecode.h"

namespace kz {

int32_t TKzChangeDecoder::Decode(TKzVideoDataItem& Item, const TShowEvent& Show, TKzChangeStats* Stats) {
  const uint8_t* data = Item.Data.Memory();
  const size_t size = static_cast<size_t>(Item.Data.Size());
  size_t pos = 0, consumed = 0;
  int32_t count = 0;
  TKzChangeHeader header;
  for (;;) {
    const TKzChangeFind r = KzFindChangeContainer(data, size, pos, header);
    if (r != TKzChangeFind::kzcfFound) {
      consumed = pos;  // a waiting container stays; skipped bytes go
      break;
    }
    const bool shown = Rebuild(Item, data + pos, header, Stats);
    if (Stats) {
      Stats->Bytes += header.Length;
      if (!shown) ++Stats->Corrupted;
    }
    if (shown && Show) Show(Item, header);
    pos += header.Length;
    ++count;
  }
  Item.Data.DeleteFront(static_cast<int64_t>(consumed));
  Item.Searched = 0;
  return count;
}

bool TKzChangeDecoder::DecodePicture(const uint8_t* Data, const TKzAreaRecord& Record) {
  if (!OnOffer) return FCodec.Decode(Record.Format, Data + Record.Picture, Record.Size, FPicture);
  FOffered.Clear();
  FOffered.Write(Data + Record.Picture, Record.Size);
  FOffered.SetPosition(0);
  TKzImageType kind = static_cast<TKzImageType>(Record.Format);
  OnOffer(FOffered, kind);
  if (FOffered.Size() <= 0) return false;
  return FCodec.Decode(static_cast<uint8_t>(kind), FOffered.Memory(), static_cast<size_t>(FOffered.Size()), FPicture);
}

bool TKzChangeDecoder::Rebuild(TKzVideoDataItem& Item, const uint8_t* Data, const TKzChangeHeader& Header,
                               TKzChangeStats* Stats) {
  TKzMBitmap& last = Item.GetLastImg();
  const int32_t w = Header.Width, h = Header.Height;
  if (last.Width() != w || last.Height() != h) {
    last.SetSize(w, h);
    Item.IsFirstChangedImg = false;  // a new size has no base yet
  }
  if (Color != 0) last.FillRect(TRect(0, 0, w, h), Color);
  bool corrupted = false, wholeSeen = false;
  uint64_t areas = 0;
  size_t at = KZ_CHANGE_HEAD;
  TKzAreaRecord rec;
  while (KzNextAreaRecord(Data, Header.Length, at, rec)) {
    ++areas;
    if (rec.W > w || rec.H > h || rec.W == 0 || rec.H == 0) {
      corrupted = true;
      continue;
    }
    const bool whole = rec.F == 0 && rec.W == w && rec.H == h;
    if (whole) {
      Item.NumFrame = Header.NumFrame;
      wholeSeen = true;
    }
    const bool valid = IgnoreCorruptedFrames ||
                       (!whole && Item.NumFrame == Header.NumFrame &&
                        (rec.F == Item.ChangedImg || rec.F == Item.ChangedImg + 1));
    if (!IgnoreCorruptedFrames && !Item.IsFirstChangedImg && !whole) {
      corrupted = true;  // no base to draw on: shown from the next whole frame
      continue;
    }
    if (!DecodePicture(Data, rec) || FPicture.Width() < rec.W || FPicture.Height() < rec.H) {
      corrupted = true;
      if (whole) Item.IsFirstChangedImg = false;  // the base it replaces is gone
      continue;
    }
    if (rec.F == 0) {
      KzPasteAreaPicture(last, rec.X, rec.Y, rec.W, rec.H, FPicture);
    } else if (valid) {
      KzAddDifferencePicture(last, rec.X, rec.Y, rec.W, rec.H, FPicture);
    } else {
      corrupted = true;
      Item.IsFirstChangedImg = false;
      continue;
    }
    Item.ChangedImg = rec.F;
    Item.IsFirstChangedImg = true;
  }
  if (Stats) {
    if (wholeSeen && areas == 1) {
      ++Stats->WholeFrames;
    } else {
      ++Stats->AreaContainers;
      Stats->Areas += areas;
    }
  }
  return !corrupted || IgnoreCorruptedFrames;
}

}  // namespace kz
