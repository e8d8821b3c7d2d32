#include "streaming/fmxMKzStreamZip.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "foundation/fmxMKzByteOrder.h"
#include "streaming/fmxMKzStreamMarkers.h"

namespace kz {

namespace {
constexpr size_t kInflateStep = 65536;  // output grows in steps, never past the limit
}

struct TKzDeflater::TState {
  z_stream Z{};
  bool Ready = false;
};

TKzDeflater::TKzDeflater(int Level) : FState(std::make_unique<TState>()) {
  FState->Ready = deflateInit(&FState->Z, Level) == Z_OK;
}

TKzDeflater::~TKzDeflater() {
  if (FState->Ready) deflateEnd(&FState->Z);
}

size_t TKzDeflater::Bound(size_t Size) { return compressBound(static_cast<uLong>(Size)); }

size_t TKzDeflater::Compress(const uint8_t* Data, size_t Size, uint8_t* Out) {
  if (!FState->Ready || deflateReset(&FState->Z) != Z_OK) return 0;
  z_stream& z = FState->Z;
  z.next_in = const_cast<Bytef*>(Data);
  z.avail_in = static_cast<uInt>(Size);
  z.next_out = Out;
  z.avail_out = static_cast<uInt>(Bound(Size));
  if (deflate(&z, Z_FINISH) != Z_STREAM_END) return 0;
  return z.total_out;
}

struct TKzInflater::TState {
  z_stream Z{};
  bool Ready = false;
};

TKzInflater::TKzInflater() : FState(std::make_unique<TState>()) { FState->Ready = inflateInit(&FState->Z) == Z_OK; }

TKzInflater::~TKzInflater() {
  if (FState->Ready) inflateEnd(&FState->Z);
}

bool TKzInflater::Inflate(const uint8_t* Data, size_t Size, size_t Limit, std::vector<uint8_t>& Out) {
  if (!FState->Ready || inflateReset(&FState->Z) != Z_OK) return false;
  z_stream& z = FState->Z;
  const size_t start = Out.size();
  z.next_in = const_cast<Bytef*>(Data);
  z.avail_in = static_cast<uInt>(Size);
  size_t produced = 0;
  for (;;) {
    // One byte of room past the limit tells an oversized result from an exact fit.
    const size_t room = std::min(kInflateStep, Limit + 1 - produced);
    Out.resize(start + produced + room);
    z.next_out = Out.data() + start + produced;
    z.avail_out = static_cast<uInt>(room);
    const int rc = inflate(&z, Z_NO_FLUSH);
    produced += room - z.avail_out;
    if (produced > Limit || (rc != Z_OK && rc != Z_STREAM_END) || (rc == Z_OK && z.avail_out != 0)) {
      Out.resize(start);
      return false;
    }
    if (rc == Z_STREAM_END) break;
  }
  Out.resize(start + produced);
  return true;
}

bool KzDeflate(const uint8_t* Data, size_t Size, int Level, std::vector<uint8_t>& Out) {
  uLongf n = compressBound(static_cast<uLong>(Size));
  Out.resize(n);
  if (compress2(Out.data(), &n, Data, static_cast<uLong>(Size), Level) != Z_OK) {
    Out.clear();
    return false;
  }
  Out.resize(n);
  return true;
}

bool KzInflate(const uint8_t* Data, size_t Size, size_t Limit, std::vector<uint8_t>& Out) {
  TKzInflater inflater;
  return inflater.Inflate(Data, Size, Limit, Out);
}

void PackStream(TMemoryStream& Stream) {
  std::vector<uint8_t> packed;
  KzDeflate(Stream.Memory(), static_cast<size_t>(Stream.Size()), Z_DEFAULT_COMPRESSION, packed);
  Stream.SetSize(0);
  Stream.SetPosition(0);
  Stream.Write(packed.data(), static_cast<int64_t>(packed.size()));
  Stream.SetPosition(0);
}

bool UnPackStream(TMemoryStream& Stream, int64_t Offset, int64_t Size, int64_t& NewSize) {
  const int64_t at = Stream.Position() + Offset;
  NewSize = 0;
  if (Size < 0 || at < 0 || at > Stream.Size() || Stream.Size() - at < Size) return false;
  std::vector<uint8_t> out;
  if (!KzInflate(Stream.Memory() + at, static_cast<size_t>(Size), KzInflateBound(static_cast<size_t>(Size)), out))
    return false;
  std::vector<uint8_t> tail(Stream.Memory() + at + Size, Stream.Memory() + Stream.Size());
  Stream.SetSize(at);
  Stream.SetPosition(at);
  Stream.Write(out.data(), static_cast<int64_t>(out.size()));
  Stream.Write(tail.data(), static_cast<int64_t>(tail.size()));
  Stream.SetPosition(at + static_cast<int64_t>(out.size()));
  NewSize = static_cast<int64_t>(out.size());
  return true;
}

bool UnPackStreamEx(TStream& Source, TStream& Dest, int64_t Size) {
  const int64_t at = Source.Position();
  if (Size < 0 || Source.Size() - at < Size) return true;
  std::vector<uint8_t> in(static_cast<size_t>(Size));
  Source.Read(in.data(), Size);
  Source.SetPosition(at);
  std::vector<uint8_t> out;
  if (!KzInflate(in.data(), in.size(), KzInflateBound(in.size()), out)) return false;
  if (!out.empty()) Dest.Write(out.data(), static_cast<int64_t>(out.size()));
  return true;
}

size_t KzAppendBlock(std::vector<uint8_t>& Out, const uint8_t* Chunk, size_t Size, TKzDeflater& Deflater) {
  const size_t start = Out.size();
  Out.resize(start + 6 + std::max(Size, TKzDeflater::Bound(Size)) + 4);
  uint8_t* p = Out.data() + start;
  std::memcpy(p, MARKER_COMPRESSION_BEGIN.data(), 4);
  size_t n = Size > 0 ? Deflater.Compress(Chunk, Size, p + 6) : 0;
  if (n > 0 && n < Size) {
    KzPutLE<int16_t>(p + 4, static_cast<int16_t>(n));
  } else {
    n = Size;
    KzPutLE<int16_t>(p + 4, static_cast<int16_t>(-static_cast<int32_t>(Size)));
    std::memcpy(p + 6, Chunk, Size);
  }
  std::memcpy(p + 6 + n, MARKER_COMPRESSION_END.data(), 4);
  Out.resize(start + n + KZ_BLOCK_OVERHEAD);
  return n + KZ_BLOCK_OVERHEAD;
}

TKzBlockResult KzParseBlock(const uint8_t* Data, size_t Size, int16_t& N, size_t& Used) {
  if (Size < 6) return TKzBlockResult::kzbrIncomplete;
  N = KzGetLE<int16_t>(Data + 4);
  const size_t len = static_cast<size_t>(N < 0 ? -static_cast<int32_t>(N) : N);
  if (Size < 6 + len + 4) return TKzBlockResult::kzbrIncomplete;
  if (std::memcmp(Data + 6 + len, MARKER_COMPRESSION_END.data(), 4) != 0) return TKzBlockResult::kzbrMisplacedEnd;
  Used = len + KZ_BLOCK_OVERHEAD;
  return TKzBlockResult::kzbrOk;
}

size_t KzReadAllBlocks(const uint8_t* Data, size_t Size, std::vector<uint8_t>& Out, TKzInflater& Inflater) {
  size_t dropped = 0;
  size_t pos = 0;
  for (;;) {
    const int64_t at = KzFindMarker(Data, Size, pos, MARKER_COMPRESSION_BEGIN);
    if (at < 0) return dropped;
    int16_t n = 0;
    size_t used = 0;
    const TKzBlockResult r = KzParseBlock(Data + at, Size - static_cast<size_t>(at), n, used);
    if (r == TKzBlockResult::kzbrIncomplete) return dropped + 1;
    if (r == TKzBlockResult::kzbrMisplacedEnd) {
      pos = static_cast<size_t>(at) + 4;
      continue;
    }
    const uint8_t* data = Data + at + 6;
    if (n > 0) {
      if (!Inflater.Inflate(data, static_cast<size_t>(n), KzInflateBound(static_cast<size_t>(n)), Out)) ++dropped;
    } else {
      Out.insert(Out.end(), data, data - static_cast<int32_t>(n));
    }
    pos = static_cast<size_t>(at) + used;
  }
}

}  // namespace kz
