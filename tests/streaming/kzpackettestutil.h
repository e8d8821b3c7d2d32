// Helpers of the packet format tests: hex, test payloads, and readings of
// packets and packs in the words of the reference codec's descriptions.
#pragma once
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "streaming/fmxMKzPacketReader.h"

namespace kztest {

inline std::string ToHex(const std::vector<uint8_t>& Bytes) {
  static const char* kDigits = "0123456789abcdef";
  std::string s;
  for (uint8_t b : Bytes) (s += kDigits[b >> 4]) += kDigits[b & 15];
  return s;
}

inline std::vector<uint8_t> FromHex(const std::string& Hex) {
  std::vector<uint8_t> b;
  for (size_t i = 0; i + 1 < Hex.size(); i += 2) b.push_back(static_cast<uint8_t>(std::stoi(Hex.substr(i, 2), nullptr, 16)));
  return b;
}

// "N,SEED" of Fill: N bytes that compress well; of Rand: N bytes that do not.
inline std::vector<uint8_t> TestBytes(const std::string& Fill, const std::string& Rand) {
  std::vector<uint8_t> out;
  if (!Fill.empty()) {
    const uint64_t n = std::stoull(Fill), seed = std::stoull(Fill.substr(Fill.find(',') + 1));
    for (uint64_t i = 0; i < n; ++i) out.push_back(static_cast<uint8_t>(i * seed / 7));
  } else if (!Rand.empty()) {
    uint64_t x = std::stoull(Rand.substr(Rand.find(',') + 1));
    for (uint64_t i = 0, n = std::stoull(Rand); i < n; ++i) {
      x = (x * 1103515245 + 12345) & 0x7FFFFFFF;
      out.push_back(static_cast<uint8_t>(x >> 16));
    }
  }
  return out;
}

inline std::string GuidHex(const kz::TGUID& G) {
  std::vector<uint8_t> b(16);
  kz::GUIDToBytes(G, b.data());
  return ToHex(b);
}

inline std::string DescribePacket(const kz::TKzPacket& P) {
  using namespace kz;
  const TKzPacketHeader& h = P.Header;
  static const char* kComp[] = {"none", "fully", "parts"};
  std::string type, info;
  char buf[160];
  switch (h.DataType()) {
    case DATA_TYPE_VIDEO:
      type = "video";
      info = "enc=" + std::to_string(static_cast<int>(h.Info.VideoInfo.Encoding));
      break;
    case DATA_TYPE_AUDIO:
      type = "audio";
      std::snprintf(buf, sizeof buf, "rate=%u bits=%d ch=%d", static_cast<uint32_t>(h.Info.AudioInfo.SamplesPerSec),
                    static_cast<int>(h.Info.AudioInfo.BitsPerSample), h.Info.AudioInfo.Channels);
      info = buf;
      break;
    case DATA_TYPE_FILE: {
      type = "file";
      const std::string& n = h.Info.FileInfo.FileName;
      info = "name=" + ToHex(std::vector<uint8_t>(n.begin(), n.end())) + " fguid=" + GuidHex(h.Info.FileInfo.FileGUID) +
             " offs=" + std::to_string(h.Info.FileInfo.FileOffs) + " total=" + std::to_string(h.Info.FileInfo.TotalFileSize);
      break;
    }
    case DATA_TYPE_USERDATA: type = "user"; break;
    default: type = "cmd"; break;
  }
  std::snprintf(buf, sizeof buf, "packet type=%s word=%04x ", type.c_str(), h.DataTypeWord);
  std::string s = buf + ("from=" + GuidHex(h.GUIDFrom) + " to=" + GuidHex(h.GUIDTo) + " group=" + GuidHex(h.GUIDGroup));
  s += " media=" + std::to_string(h.Info.MediaIndex) + " part=" + std::to_string(h.IndexPart) +
       " comp=" + kComp[static_cast<int>(h.Compression())] + " " + info;
  std::snprintf(buf, sizeof buf, " size=%zu crc=%08x", P.Payload.size(), kz::Crc32(P.Payload.data(), P.Payload.size()));
  return s + buf;
}

// Every packet the stream reader finds in Bytes, one line each.
inline std::string DescribeStream(const std::vector<uint8_t>& Bytes) {
  kz::TKzPacketReader reader;
  reader.Feed(Bytes.data(), Bytes.size());
  std::string out;
  for (kz::TKzPacket p; reader.Next(p);) out += DescribePacket(p) + "\n";
  return out;
}

inline std::string DescribeHeaderPack(const kz::TKzHeaderPack& P) {
  return "hpack marker=" + std::string(P.MARKER.begin(), P.MARKER.end()) + " len=" + std::to_string(P.LenPack) +
         " to=" + GuidHex(P.GUIDTo) + " from=" + GuidHex(P.GUIDFrom) + " group=" + GuidHex(P.GUIDGroup);
}

inline std::string DescribeSessionPack(const kz::TKzSessionPack& P) {
  return "spack marker=" + std::string(P.MARKER.begin(), P.MARKER.end()) + " key=" + std::to_string(P.SessionKey) +
         " len=" + std::to_string(P.DataLen);
}

inline bool HavePython() {
  static const bool have = std::system("python3 -c 'import zlib' >/dev/null 2>&1") == 0;
  return have;
}

#ifdef KZ_REFCODEC
// The lines the reference codec prints when run with Args on the lines In.
inline std::vector<std::string> RunRefCodec(const std::string& Args, const std::vector<std::string>& In) {
  // Test programs run side by side and each may call this: the names are the process's own.
  const std::string stem = testing::TempDir() + "kzrefcodec-" + std::to_string(getpid());
  const std::string in = stem + "-in.txt", out = stem + "-out.txt";
  std::ofstream lines(in);
  for (const std::string& l : In) lines << l << "\n";
  lines.close();
  const std::string cmd = "python3 '" KZ_REFCODEC "' " + Args + " < '" + in + "' > '" + out + "'";
  EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
  std::ifstream f(out);
  std::vector<std::string> result;
  for (std::string line; std::getline(f, line);) result.push_back(line);
  std::remove(in.c_str());
  std::remove(out.c_str());
  return result;
}
#endif

}  // namespace kztest
