// Rebuilds frames from changed-area containers: the areas of each
// container are pasted into the last picture of the sender's video item
// (difference pictures added back), and each rebuilt frame that is not
// corrupted is handed on. A receiver that has no base picture yet (joined
// mid-stream, lost a whole frame) draws nothing until a whole frame comes.
//
// Records from untrusted bytes: frames above 8192 pixels in a direction
// are refused; records are clipped to the frame; a record wider or higher
// than the frame, or whose picture decodes smaller than the record, marks
// the frame corrupted; a picture larger than its record (HWL) is clipped.
//
// One object per decoding thread; never blocks except in the callbacks.
#pragma once
#include <cstdint>
#include <functional>

#include "foundation/fmxMKzDataList.h"
#include "video/fmxMKzAreaCodec.h"
#include "video/fmxMKzChangeContainer.h"
#include "video/fmxMKzFrameContainer.h"

namespace kz {

// What a receiver has taken from one sender's changed-area stream.
struct TKzChangeStats {
  uint64_t WholeFrames = 0;     // containers holding a whole frame
  uint64_t AreaContainers = 0;  // containers of changed areas
  uint64_t Areas = 0;           // records of the area containers
  uint64_t Bytes = 0;           // bytes of all containers
  uint64_t Corrupted = 0;       // frames not shown for a broken chain or a bad record
};

class TKzChangeDecoder {
public:
  // Offered each picture before it is decoded; may replace its bytes and kind.
  using TOfferEvent = std::function<void(TMemoryStream& Picture, TKzImageType& Kind)>;
  // A rebuilt frame to show: Item.LastImg and the container's times.
  using TShowEvent = std::function<void(TKzVideoDataItem& Item, const TKzChangeHeader& Header)>;

  uint32_t Color = 0;  // fill before drawing a container's areas (0: none)
  bool IgnoreCorruptedFrames = false;
  TOfferEvent OnOffer;

  // Decodes the whole containers at the front of Item.Data and deletes
  // them (and bytes skipped before them); an incomplete container stays.
  // Returns the number of containers read.
  int32_t Decode(TKzVideoDataItem& Item, const TShowEvent& Show, TKzChangeStats* Stats = nullptr);

private:
  // One container at Data; false when the frame is corrupted.
  bool Rebuild(TKzVideoDataItem& Item, const uint8_t* Data, const TKzChangeHeader& Header, TKzChangeStats* Stats);
  bool DecodePicture(const uint8_t* Data, const TKzAreaRecord& Record);

  TKzAreaCodec FCodec;
  TKzMBitmap FPicture;
  TMemoryStream FOffered;
};

}  // namespace kz
