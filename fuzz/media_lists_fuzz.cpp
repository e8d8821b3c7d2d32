// The data list, the image list and the timing registry driven by values as
// they arrive from the network (keys, counts, media indexes, encodings, audio
// formats, sender timestamps, queue modes): no crash, no undefined
// behaviour, and a video item never above its limit unless one chunk is.
#include <algorithm>
#include <cstdint>

#include "foundation/fmxMKzDataList.h"
#include "foundation/fmxMKzGUIDInfo.h"
#include "foundation/fmxMKzImageList.h"
#include "kzfuzz.h"

using namespace kz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  TKzDataList data;
  TKzImageList images;
  TKzMBitmap frame(2, 2);
  TGUID sources[4];
  for (int i = 0; i < 4; ++i) sources[i].D1 = static_cast<uint32_t>(i + 1);
  kzfuzz::TReader r{Data, Size};
  while (r.Left > 0) {
    const uint8_t op = r.Take<uint8_t>();
    TKzHeaderPack h;
    h.GUIDFrom = sources[op >> 4 & 3];
    switch (op & 7) {
      case 0: {
        const int32_t key = r.Take<int32_t>();
        const int64_t count = r.Take<int64_t>();
        TKzInfo info;
        info.MediaIndex = r.Take<uint16_t>();
        info.VideoInfo.Encoding = static_cast<TKzEncodingType>(r.Take<uint8_t>() % 10);
        info.AudioInfo.SamplesPerSec = r.Take<int32_t>();
        const uint16_t len = r.Take<uint16_t>() % 512;
        TMemoryStream s;
        const size_t n = std::min<size_t>(len, r.Left);
        s.Write(r.P, static_cast<int64_t>(n));
        r.P += n;
        r.Left -= n;
        s.SetPosition(r.Take<uint8_t>());
        TKzBaseDataItem* item = data.AddDataGUID(h, s, key, count, info);
        if (item && (key & 0xFF) == DATA_TYPE_VIDEO && item->Data.Size() > KZ_MAX_VIDEO_DATA) __builtin_trap();
        break;
      }
      case 1:
        images.AddImageGUID(h, r.Take<uint16_t>(), frame, 0, r.Take<int64_t>(), r.Take<int64_t>(), r.Take<int32_t>(),
                            r.Take<uint8_t>() & 1, 0);
        break;
      case 2: images.ClearAllData(r.Take<uint32_t>(), r.Take<int64_t>()); break;
      case 3: GetGUIDInfoWithCreate(h.GUIDFrom, r.Take<uint8_t>() & 1, r.Take<int64_t>()); break;
      case 4: data.ClearKey(r.Take<int32_t>()); break;
      case 5: data.DeleteKey(r.Take<int32_t>()); break;
      case 6: {
        TKzGUIDTimes t;
        if (GetGUIDInfoTimes(h.GUIDFrom, t)) (void)t.DueTime(r.Take<int64_t>());
        break;
      }
      default: images.DeleteGUID(h); break;
    }
  }
  ClearAllGUID();
  return 0;
}
