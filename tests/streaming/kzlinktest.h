// What the sender peer (kzsenderpeer) sends and the sender-to-receiver
// tests expect: four senders, each with its own settings, frames, audio
// blocks, commands, user data and files whose bytes say who sent them and
// their number.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "foundation/fmxMKzByteOrder.h"
#include "streaming/Fmxmkzcmd.h"
#include "foundation/fmxMKzBitmap.h"
#include "video/fmxMKzImageCodecs.h"

namespace kztest {

using TBytes = std::vector<uint8_t>;

constexpr size_t kLinkSenders = 4;
constexpr uint32_t kLinkFrames = 25;  // distinct frames a sender sends round and round

struct TLinkSender {
  kz::TKzEncodingType Encoding;
  bool Compressed, UseGUID;
  kz::TGUID GUID;
};

// Sender k of a row: compression for odd k, GUIDs from k = 2 on, and the
// three encodings spread so that every row has each.
inline TLinkSender LinkSender(size_t K, int Row) {
  static const kz::TKzEncodingType kEncodings[3] = {kz::TKzEncodingType::kzetJPEG, kz::TKzEncodingType::kzetPNG,
                                                    kz::TKzEncodingType::kzetBMP};
  kz::TGUID g{};
  g.D1 = 0x4C494E4Bu;  // "LINK"
  g.D2 = static_cast<uint16_t>(K + 1);
  return {kEncodings[(K + static_cast<size_t>(Row)) % 3], (K & 1) != 0, K >= 2, g};
}

// Frame I of sender K in an epoch (a restarted sender sends another epoch's).
inline kz::TKzMBitmap LinkFrame(size_t K, int Epoch, uint32_t I) {
  const uint32_t seed = static_cast<uint32_t>(Epoch) * 200 + static_cast<uint32_t>(K) * 50 + I;
  kz::TKzMBitmap b(64, 48);
  for (int32_t y = 0; y < 48; ++y)
    for (int32_t x = 0; x < 64; ++x)
      b.ScanLine(y)[x] = 0xFF000000u | ((x * 4 + seed * 37) & 255) << 16 | ((y * 5 + seed * 11) & 255) << 8 |
                         ((seed * 3 + (x / 8 + y / 8) * 29) & 255);
  return b;
}

// What a view shows of that frame: its pixels after the sender's encoding and the decoding.
inline kz::TKzMBitmap LinkShownFrame(size_t K, int Row, int Epoch, uint32_t I) {
  const kz::TKzMBitmap b = LinkFrame(K, Epoch, I);
  if (LinkSender(K, Row).Encoding != kz::TKzEncodingType::kzetJPEG) return b;
  kz::TMemoryStream s;
  kz::KzCodecEncodeJPEG(b, s, 90);
  kz::TKzMBitmap out;
  kz::KzCodecDecode(s.Memory(), static_cast<size_t>(s.Size()), out);
  return out;
}

// Item N of sender K (audio block, user data, file): its sender, number and
// size, then bytes that follow from them.
inline TBytes LinkItem(size_t K, uint32_t N, size_t Size) {
  TBytes b(std::max<size_t>(Size, 9));
  b[0] = static_cast<uint8_t>(K);
  kz::KzPutLE<uint32_t>(b.data() + 1, N);
  kz::KzPutLE<uint32_t>(b.data() + 5, static_cast<uint32_t>(b.size()));
  for (size_t i = 9; i < b.size(); ++i) b[i] = static_cast<uint8_t>(K * 31 + N * 7 + i * 13 + i / 97);
  return b;
}

// Whether Bytes are an intact item; its sender and number.
inline bool LinkCheckItem(const TBytes& Bytes, size_t& K, uint32_t& N) {
  if (Bytes.size() < 9) return false;
  K = Bytes[0];
  N = kz::KzGetLE<uint32_t>(Bytes.data() + 1);
  return K < kLinkSenders && kz::KzGetLE<uint32_t>(Bytes.data() + 5) == Bytes.size() && LinkItem(K, N, Bytes.size()) == Bytes;
}

inline kz::TKzCmd LinkCommand(size_t K, uint32_t N) {
  kz::TKzCmd c;
  c.Name = "link.note";
  c.AddParam("k").SetInteger(static_cast<int64_t>(K));
  c.AddParam("n").SetInteger(N);
  c.AddParam("text").SetString(std::string(N % 50, 'x'));
  return c;
}

inline std::string LinkFileName(size_t K, uint32_t N) {
  return "link-" + std::to_string(K) + "-" + std::to_string(N) + ".bin";
}
inline size_t LinkFileSize(uint32_t N) { return 30000 + (N * 7919u) % 50000; }

inline kz::TKzAudioInfo LinkAudioInfo() { return {8000, kz::TKzBitsPerSample::kzbps16, 1}; }

}  // namespace kztest
