// The packet format against the independent Python codec (refcodec.py):
// for every case both codecs encode, the bytes must be the same, and each
// codec's reading of the other's bytes must describe the same items.
// kz-test-labels: peer
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <sstream>

#include "streaming/Fmxmkzcmd.h"
#include "streaming/fmxMKzChannelSession.h"
#include "streaming/fmxMKzPacketReader.h"
#include "tests/kztestneed.h"
#include "tests/streaming/kzpackettestutil.h"

using namespace kz;
using namespace kztest;

namespace {

using TFields = std::map<std::string, std::string>;

TFields Fields(const std::string& Line, std::string& Kind) {
  std::istringstream in(Line);
  in >> Kind;
  TFields f;
  for (std::string kv; in >> kv;) f[kv.substr(0, kv.find('='))] = kv.substr(kv.find('=') + 1);
  return f;
}

std::string Get(const TFields& F, const std::string& Key, const std::string& Default = "0") {
  const auto it = F.find(Key);
  return it == F.end() ? Default : it->second;
}

TGUID GuidField(const TFields& F, const std::string& Key) {
  const std::vector<uint8_t> b = FromHex(Get(F, Key, std::string(32, '0')));
  return GUIDFromBytes(b.data());
}

std::vector<uint8_t> PayloadField(const TFields& F) {
  std::vector<uint8_t> p = FromHex(Get(F, "payload", ""));
  const std::vector<uint8_t> more = TestBytes(Get(F, "fill", ""), Get(F, "rand", ""));
  p.insert(p.end(), more.begin(), more.end());
  return p;
}

TKzPacketSpec SpecField(const TFields& F) {
  TKzPacketSpec s;
  s.DataType = static_cast<uint16_t>(std::stoi(Get(F, "type")));
  const std::string comp = Get(F, "comp", "none");
  s.Compression = comp == "fully" ? TKzCompressionType::kztcFully
                  : comp == "parts" ? TKzCompressionType::kztcParts : TKzCompressionType::kztcNone;
  s.Protocol = Get(F, "proto", "tcp") == "udp" ? TKzProtocol::kzpUDP : TKzProtocol::kzpTCP;
  s.BufferSize = static_cast<uint32_t>(std::stoul(Get(F, "bufsize", "8192")));
  s.UseGUID = Get(F, "useguid", "1") == "1";
  s.GUIDFrom = GuidField(F, "from");
  s.GUIDTo = GuidField(F, "to");
  s.GUIDGroup = GuidField(F, "group");
  s.Info.MediaIndex = static_cast<uint16_t>(std::stoi(Get(F, "media")));
  s.Info.VideoInfo.Encoding = static_cast<TKzEncodingType>(std::stoi(Get(F, "enc")));
  s.Info.AudioInfo = {std::stoi(Get(F, "rate", "8000")), static_cast<TKzBitsPerSample>(std::stoi(Get(F, "bits"))),
                      std::stoi(Get(F, "ch", "1"))};
  s.Info.FileInfo.FileName = Get(F, "name", "");
  s.Info.FileInfo.FileGUID = GuidField(F, "fguid");
  s.Info.FileInfo.FileOffs = std::stoll(Get(F, "offs"));
  s.Info.FileInfo.TotalFileSize = std::stoll(Get(F, "total"));
  s.FileStart = s.Info.FileInfo.FileOffs;
  return s;
}

TKzCmd CmdField(const TFields& F) {
  TKzCmd cmd;
  const std::vector<uint8_t> name = FromHex(Get(F, "name", ""));
  cmd.Name.assign(name.begin(), name.end());
  std::istringstream list(Get(F, "params", ""));
  for (std::string item; std::getline(list, item, ',');) {
    const size_t a = item.find(':'), b = item.rfind(':');
    const std::vector<uint8_t> pname = FromHex(item.substr(0, a));
    const std::string type = item.substr(a + 1, b - a - 1), value = item.substr(b + 1);
    TKzCmdParamItem& p = cmd.AddParam(std::string(pname.begin(), pname.end()));
    const std::vector<uint8_t> raw = type == "string" || type == "bin" ? FromHex(value) : std::vector<uint8_t>{};
    if (type == "string") p.SetString(std::string(raw.begin(), raw.end()));
    if (type == "bin") p.SetBin(raw);
    if (type == "integer") p.SetInteger(std::stoll(value));
    if (type == "float") p.SetFloat(std::stod(value));
    if (type == "datetime") p.SetDateTime(std::stod(value));
    if (type == "boolean") p.SetBoolean(value == "1");
    if (type == "none") p.ParamType = TKzParamType::kzptNone;
  }
  return cmd;
}

// The C++ encoding of a case line, as the Python codec prints it.
std::string Encode(const std::string& Line) {
  std::string kind;
  const TFields f = Fields(Line, kind);
  std::vector<uint8_t> out;
  if (kind == "packet" || kind == "batch") {
    const TKzPacketSpec spec = SpecField(f);
    const std::vector<uint8_t> payload = PayloadField(f);
    uint16_t part = static_cast<uint16_t>(std::stoi(Get(f, "part")));
    TKzPacketWriter writer;
    if (kind == "batch") {
      TKzQueuedPayload queued{spec, payload.data(), payload.size()};
      KzBuildChannelAnswer({KzChannelRequestText(TKzChannelRequestKind::kzcrData, static_cast<uint8_t>(spec.DataType)),
                            TGUID{}, 0},
                           static_cast<TKzSessionKey>(std::stoul(Get(f, "key"))), &queued, writer, part, out);
      return ToHex(out);
    }
    std::string line;
    writer.Write(spec, payload.data(), payload.size(), part, [&](const uint8_t* P, size_t N) {
      if (spec.Protocol == TKzProtocol::kzpUDP && !line.empty()) line += ' ';
      line += ToHex(std::vector<uint8_t>(P, P + N));
      return true;
    });
    return line;
  }
  if (kind == "header") {
    const TKzPacketSpec s = SpecField(f);
    out.resize(400);
    const int32_t n = FillHeader(out.data(), 400, s.DataType, TKzCompressionType::kztcNone,
                                 static_cast<uint16_t>(std::stoi(Get(f, "part"))), std::stoll(Get(f, "len")),
                                 s.GUIDFrom, s.GUIDTo, s.GUIDGroup, s.Info, 0, s.UseGUID, TKzProtocol::kzpTCP);
    out.resize(static_cast<size_t>(n));
  } else if (kind == "block") {
    TKzDeflater deflater(9);
    const std::vector<uint8_t> data = PayloadField({{"payload", Get(f, "data", "")}, {"rand", Get(f, "rand", "")}, {"fill", Get(f, "fill", "")}});
    KzAppendBlock(out, data.data(), data.size(), deflater);
  } else if (kind == "hpack") {
    TKzHeaderPack p;
    std::copy_n(Get(f, "marker").begin(), 4, p.MARKER.begin());
    p.LenPack = std::stoll(Get(f, "len"));
    p.GUIDTo = GuidField(f, "to");
    p.GUIDFrom = GuidField(f, "from");
    p.GUIDGroup = GuidField(f, "group");
    out.resize(TKzHeaderPack::WireSize);
    KzHeaderPackToBytes(p, out.data());
  } else if (kind == "spack") {
    TKzSessionPack p;
    std::copy_n(Get(f, "marker").begin(), 4, p.MARKER.begin());
    p.SessionKey = static_cast<TKzSessionKey>(std::stoul(Get(f, "key")));
    p.DataLen = std::stoll(Get(f, "len"));
    out.resize(TKzSessionPack::WireSize);
    KzSessionPackToBytes(p, out.data());
  } else if (kind == "request") {
    out.resize(TKzChannelRequest::WireSize);
    KzChannelRequestToBytes({Get(f, "text"), GuidField(f, "guid"), static_cast<TKzSessionKey>(std::stoul(Get(f, "key")))},
                            out.data());
  } else if (kind == "cmd") {
    TMemoryStream s;
    KzSaveCmdPayload({CmdField(f)}, s);
    out.assign(s.Memory(), s.Memory() + s.Size());
  }
  return ToHex(out);
}

// Which reader a case's bytes go to.
std::string DecodeKind(const std::string& Line) {
  std::string kind;
  const TFields f = Fields(Line, kind);
  if (kind == "packet") return Get(f, "proto", "tcp") == "udp" ? "datagram" : "stream";
  if (kind == "header") return "stream";
  return kind;
}

std::string DescribeCmds(const std::vector<uint8_t>& Bytes) {
  TMemoryStream s;
  s.Write(Bytes.data(), static_cast<int64_t>(Bytes.size()));
  s.SetPosition(0);
  std::string out;
  for (const TKzCmd& c : KzLoadCmdPayload(s)) {
    out += "cmd name=" + ToHex(std::vector<uint8_t>(c.Name.begin(), c.Name.end())) + " params=";
    for (size_t i = 0; i < c.Params.size(); ++i) {
      static const char* kTypes[] = {"none", "string", "integer", "float", "datetime", "bin", "boolean"};
      const TKzCmdParamItem& p = c.Params[i];
      const auto t = static_cast<size_t>(p.ParamType);
      out += (i ? "," : "") + ToHex(std::vector<uint8_t>(p.Name.begin(), p.Name.end())) + ":" +
             (t < 7 ? kTypes[t] : std::to_string(t)) + ":" + ToHex(p.Value());
    }
    out += "\n";
  }
  return out;
}

// The C++ reading of one hex line, in the Python codec's words.
std::string Decode(const std::string& Kind, const std::string& HexLine) {
  std::istringstream in(HexLine);
  std::vector<std::vector<uint8_t>> items;
  for (std::string h; in >> h;) items.push_back(FromHex(h));
  std::vector<uint8_t> all;
  for (const auto& i : items) all.insert(all.end(), i.begin(), i.end());
  std::string out;
  if (Kind == "stream") return DescribeStream(all);
  if (Kind == "datagram") {
    TKzInflater inflater;
    for (const auto& d : items) {
      TKzPacket p;
      if (KzReadDatagram(d.data(), d.size(), p, inflater)) out += DescribePacket(p) + "\n";
    }
  } else if (Kind == "batch") {
    TKzBatchReader reader;
    reader.Feed(all.data(), all.size());
    TKzBatch b;
    while (reader.Next(b)) {
      out += DescribeSessionPack(b.Begin) + "\n" + DescribeSessionPack(b.End) + "\n";
      for (const TKzBatchChunk& c : b.Chunks) out += DescribeHeaderPack(c.HeaderPack) + "\n" + DescribeStream(c.Packet);
    }
  } else if (Kind == "block") {
    TKzInflater inflater;
    std::vector<uint8_t> data;
    KzReadAllBlocks(all.data(), all.size(), data, inflater);
    char line[64];
    std::snprintf(line, sizeof line, "block size=%zu crc=%08x\n", data.size(), Crc32(data.data(), data.size()));
    out = line;
  } else if (Kind == "hpack") {
    out = DescribeHeaderPack(KzHeaderPackFromBytes(all.data())) + "\n";
  } else if (Kind == "spack") {
    out = DescribeSessionPack(KzSessionPackFromBytes(all.data())) + "\n";
  } else if (Kind == "request") {
    const TKzChannelRequest r = KzChannelRequestFromBytes(all.data());
    uint8_t g[16];
    GUIDToBytes(r.GUID, g);
    out = "request text=" + r.Text + " guid=" + ToHex(std::vector<uint8_t>(g, g + 16)) +
          " key=" + std::to_string(r.SessionKey) + "\n";
  } else if (Kind == "cmd") {
    out = DescribeCmds(all);
  }
  return out;
}

// Runs refcodec.py with Args on Input lines; its output, split at "--"
// lines for decoding and at line ends for encoding.
std::vector<std::string> RunPython(const std::string& Args, const std::vector<std::string>& Input, bool Decoding) {
  std::vector<std::string> lines = RunRefCodec(Args, Input), items;
  if (!Decoding) return lines;
  std::string item;
  for (const std::string& line : lines) {
    if (line != "--") {
      item += line + "\n";
      continue;
    }
    items.push_back(item);
    item.clear();
  }
  return items;
}

const std::string G1(32, '1'), G2(32, '2'), G3 = "00112233445566778899aabbccddeeff";

// Every kind of item, each compression, the GUID flags and the encodings.
const std::vector<std::string> kCases = {
    "header type=1",
    "header type=2 rate=44100 bits=1 ch=2",
    "header type=16 name=abcde fguid=" + G3 + " offs=5 total=9",
    "header type=1 useguid=0 from=" + G1 + " to=" + G2,
    "header type=4 from=" + G1 + " group=" + G3 + " media=3 part=65535",
    "header type=16 name=" + std::string(200, 'n') + " total=1",  // the name is cut to 127 units
    "block rand=1000,7",
    "block fill=3000,3",
    "hpack marker=hmHT len=123 to=" + G1 + " from=" + G2 + " group=" + G3,
    "spack marker=hmSB key=7 len=99",
    "request text=CLRAD guid=" + G3 + " key=5",
    "cmd name=4b7a5f54657374 params=6e:none:,73:string:616263,69:integer:-42,66:float:2.5,"
    "64:datetime:45000.25,62:bin:00ff10,74:boolean:1",
    "packet type=1 enc=3 fill=20000,13",
    "packet type=1 enc=9 fill=20000,13 comp=fully from=" + G1,
    "packet type=1 enc=0 rand=5000,3 comp=fully",
    "packet type=1 enc=0 fill=100000,5 comp=parts bufsize=65507 to=" + G2 + " group=" + G3,
    "packet type=2 rate=48000 bits=1 ch=2 fill=3840,11 comp=parts proto=udp bufsize=1400 part=65534",
    "packet type=16 name=part.bin fguid=" + G3 + " offs=4096 fill=3000,5 comp=fully proto=udp bufsize=1000",
    "packet type=16 name=notes.txt offs=1048576 rand=2500,9 bufsize=1024",
    "packet type=4 rand=700,1 proto=udp bufsize=300 from=" + G1,
    "packet type=8 payload=01024b7a0100",
    "packet type=1 payload=",
    "batch type=1 key=4 payload=0011686d485422 fill=50,3 from=" + G1,
    "batch type=2 key=9 fill=9000,3 comp=parts rate=8000",
};

TEST(RefCodec, BothCodecsWriteTheSameBytesAndReadEachOther) {
  KZ_NEED(HavePython(), "python3 with zlib is missing");
  const std::vector<std::string> pyBytes = RunPython("encode", kCases, false);
  ASSERT_EQ(pyBytes.size(), kCases.size());
  std::vector<std::string> ours;
  for (size_t i = 0; i < kCases.size(); ++i) {
    ours.push_back(DecodeKind(kCases[i]) + " " + Encode(kCases[i]));
    EXPECT_EQ(ours.back(), DecodeKind(kCases[i]) + " " + pyBytes[i]) << kCases[i];
  }
  const std::vector<std::string> read = RunPython("decode", ours, true);  // C++ writes, Python reads
  ASSERT_EQ(read.size(), kCases.size());
  for (size_t i = 0; i < kCases.size(); ++i) {
    EXPECT_FALSE(read[i].empty()) << kCases[i];
    EXPECT_EQ(Decode(DecodeKind(kCases[i]), pyBytes[i]), read[i]) << kCases[i];  // Python writes, C++ reads
  }
  for (size_t row = 0; row < 6; ++row) {  // the header rows: what GetLengthHeader predicts
    std::string kind;
    const TKzPacketSpec s = SpecField(Fields(kCases[row], kind));
    const TGUID &to = s.GUIDTo, &group = s.GUIDGroup;
    EXPECT_EQ(2 * static_cast<size_t>(GetLengthHeader(s.DataType, s.Info, s.UseGUID, s.GUIDFrom, to, group, to, group,
                                                      to, group, to, group)),
              pyBytes[row].size())
        << kCases[row];
  }
}

}  // namespace
