// The sender's rules that need no peer: property rules, the
// command gate, speed table, sessions, frame sizes, the video clock, and
// the channel queue (newest frame, merging, bounds).
#include <gtest/gtest.h>

#include "platform/fmxMKzPlatformClock.h"
#include "video/Fmxmkzwavelet.h"
#include "video/fmxMKzFrameContainer.h"
#include "video/fmxMKzImageCodecs.h"
#include "sender/fmxMKzCamSender.h"
#include "streaming/Fmxmkzcmd.h"

using namespace kz;

namespace {

TEST(Sender, PropertyRules) {
  TKzCamSender s(nullptr);
  // A datagram carries at most 65,507 bytes; switching to TCP keeps the lowered size.
  s.SetBufferSize(100000);
  EXPECT_EQ(s.BufferSize(), 65507u);
  s.SetProtocol(TKzProtocol::kzpTCP);
  EXPECT_EQ(s.BufferSize(), 65507u);
  s.SetBufferSize(100000);
  EXPECT_EQ(s.BufferSize(), 100000u);
  s.SetProtocol(TKzProtocol::kzpUDP);
  EXPECT_EQ(s.BufferSize(), 65507u);

  EXPECT_THROW(s.SetEncoding(TKzEncodingType::kzetMixFormat), EKzMediaError);
  EXPECT_EQ(s.Encoding(), TKzEncodingType::kzetJPEG);
}

TEST(Sender, CommandGateSessionsAndSpeedTable) {
  TKzCamSender s(nullptr);
  s.SetReceiverHost("127.0.0.1");
  s.SetReceiverPort(9);  // nothing needs to answer
  EXPECT_EQ(s.IsAllowedSendCmd(), KZ_CMD_INACTIVE);
  s.SetActive(true);
  EXPECT_EQ(s.GetSessionKey(), 1u);  // the first session
  EXPECT_EQ(s.IsAllowedSendCmd(), KZ_CMD_ALLOWED);
  s.BeginCmd();
  EXPECT_EQ(s.IsAllowedSendCmd(), KZ_CMD_LOCKED);
  s.EndCmd();
  s.SetSendMediaTypes({TKzMediaType::kzmtVideo});
  EXPECT_EQ(s.IsAllowedSendCmd(), KZ_CMD_NOT_IN_MEDIA_TYPES);
  TKzCmd c;
  c.Name = "Hello";
  EXPECT_FALSE(s.SendCmd(c));
  s.SetActive(false);
  EXPECT_EQ(s.GetSessionKey(), 0u);
  s.SetActive(true);
  EXPECT_EQ(s.GetSessionKey(), 2u);
  s.SetActive(false);

  // Slowed down per data type (the table's first and last rows), in effect
  // only once the send parameters are updated.
  struct Row {
    uint16_t Type;
    uint32_t Packet, Sleep;
  };
  for (const Row& r : {Row{1, 16384, 100}, Row{16, 8192, 1000}}) {
    s.SpeedDown(r.Type);
    EXPECT_EQ(s.ChannelSendParam(r.Type).Interval, 0u) << "not before UpdateSendParam";
    const TKzSendParam p = s.UpdateSendParam(r.Type);
    EXPECT_EQ(p.BufferSize, r.Packet) << r.Type;
    EXPECT_EQ(p.Interval, r.Sleep) << r.Type;
  }
  s.RestoreSpeed();
  for (uint16_t t : {1, 16}) EXPECT_EQ(s.ChannelSendParam(t).Interval, 0u);
}

TEST(Sender, FrameSizesAndVideoClock) {
  struct Row {
    int32_t W, H, WantW, WantH;
  };
  for (const Row& r : {Row{640, 480, 320, 240}, Row{1280, 720, 320, 180}, Row{320, 240, 320, 240},
                       Row{200, 130, 320, 208}, Row{160, 120, 160, 120}}) {
    int32_t w = 0, h = 0;
    KzSenderFrameSize(r.W, r.H, TKzVideoResolution::kz320_240, w, h);
    EXPECT_EQ(w, r.WantW) << r.W << "x" << r.H;
    EXPECT_EQ(h, r.WantH) << r.W << "x" << r.H;
  }
  int32_t w = 0, h = 0;
  KzSenderFrameSize(1280, 720, TKzVideoResolution::kzDefault, w, h);
  EXPECT_EQ(w, 1280);

  TKzVirtualClockScope clock;
  TKzCamSender s(nullptr);
  EXPECT_EQ(s.GetDiffTickCountVideo(), 0);
  clock.Clock.Advance(40);
  EXPECT_EQ(s.GetDiffTickCountVideo(), 40);
  clock.Clock.Advance(3000);
  EXPECT_EQ(s.GetDiffTickCountVideo(), 0);  // a pause is no frame interval
  EXPECT_EQ(s.GetTickCountSinceStart(), 0);
  clock.Clock.Advance(250);
  EXPECT_EQ(s.GetTickCountSinceStart(), 250);
}

// A sender whose receiver never answers: what it queues stays queued.
struct TStuckSender {
  TKzCamSender S{nullptr};
  TStuckSender() {
    S.SetProtocol(TKzProtocol::kzpTCP);
    S.SetReceiverHost("127.0.0.1");
    S.SetReceiverPort(9);
  }
};

TEST(Sender, EveryEncodingFramesADecodablePicture) {
  struct Row {
    TKzEncodingType Encoding;
    const char* Marker;
  };
  TKzMBitmap frame(64, 48);
  for (int32_t r = 0; r < 48; ++r)
    for (int32_t c = 0; c < 64; ++c) frame.ScanLine(r)[c] = 0xFF000000u | uint32_t(c * 4) << 16 | uint32_t(r * 5);
  for (const Row& row : {Row{TKzEncodingType::kzetJPEG, "JGB"}, Row{TKzEncodingType::kzetPNG, "PNB"},
                         Row{TKzEncodingType::kzetBMP, "BMB"}, Row{TKzEncodingType::kzetHWL, "HWB"}}) {
    TStuckSender t;
    std::vector<uint8_t> payload;
    t.S.OnEncodeVideo = [&](TComponent*, TMemoryStream& S, uint16_t, TKzEncodingType) {
      payload.assign(S.Memory(), S.Memory() + S.Size());
    };
    t.S.SetEncoding(row.Encoding);
    t.S.SetActive(true);
    ASSERT_TRUE(t.S.SendImageEx(frame, 0)) << row.Marker;
    TKzFrameScan scan;
    KzScanFramedImages(payload.data(), static_cast<int64_t>(payload.size()), *KzFindFrameFormat(row.Encoding), 0, 1,
                       scan);
    ASSERT_EQ(scan.Frames.size(), 1u) << row.Marker;
    EXPECT_EQ(std::string(payload.begin(), payload.begin() + 3), row.Marker);
    const uint8_t* picture = payload.data() + scan.Frames[0].ImageOffset();
    if (row.Encoding == TKzEncodingType::kzetJPEG) {
      // The encoder's picture at quality 90, which the JPEG tests hold to cjpeg -quality 90.
      TMemoryStream want;
      ASSERT_TRUE(KzCodecEncodeJPEG(frame, want, 90));
      EXPECT_TRUE(std::equal(picture, picture + scan.Frames[0].Size, want.Memory(), want.Memory() + want.Size()));
    }
    TKzMBitmap back;
    if (row.Encoding == TKzEncodingType::kzetHWL) {
      TWavelet w;
      TMemoryStream s;
      s.Write(picture, scan.Frames[0].Size);
      s.SetPosition(0);
      ASSERT_TRUE(w.ReadHWLFromStream(s));
      back.Assign(w.BitmapHWL());
    } else {
      ASSERT_TRUE(KzCodecDecode(picture, scan.Frames[0].Size, back)) << row.Marker;
    }
    // An HWL picture is coded one column and one row larger than its frame.
    const int32_t extra = row.Encoding == TKzEncodingType::kzetHWL ? 1 : 0;
    EXPECT_EQ(back.Width(), 64 + extra) << row.Marker;
    EXPECT_EQ(back.Height(), 48 + extra) << row.Marker;
  }
}

TEST(Sender, CommandsAreNeverLostSilently) {
  TStuckSender t;
  t.S.ChannelQueueBound = 4096;
  std::vector<std::string> lost;
  t.S.OnLostCommand = [&](TComponent*, const TKzCmd& C) { lost.push_back(C.GetAsStringSafe("N")); };
  t.S.SetActive(true);
  int accepted = 0;
  for (int i = 0; i < 100 && lost.empty(); ++i) {
    TKzCmd c;
    c.Name = "Hello";
    c.AddParam("N").SetString(std::to_string(i));
    c.AddParam("Pad").SetString(std::string(200, 'p'));
    accepted += t.S.SendCmd(c);
  }
  ASSERT_EQ(lost.size(), 1u) << "the command that did not fit";
  EXPECT_EQ(lost[0], std::to_string(accepted));
  EXPECT_GT(t.S.QueuedBytes(DATA_TYPE_CMD), 3000u) << "the accepted ones wait for the receiver";
  // Stacked between BeginCmd and EndCmd, they are handed over (and here lost) by the last EndCmd.
  t.S.BeginCmd();
  TKzCmd late;
  late.Name = "Late";
  late.AddParam("N").SetString("late");
  late.AddParam("Pad").SetString(std::string(200, 'p'));
  EXPECT_TRUE(t.S.SendCmd(late));
  EXPECT_EQ(lost.size(), 1u);
  t.S.EndCmd();
  EXPECT_EQ(lost.back(), "late");
  t.S.SetActive(false);
}

std::vector<uint8_t> Bytes(const std::string& S) { return std::vector<uint8_t>(S.begin(), S.end()); }

std::vector<uint8_t> CmdPayload(const std::string& Name) {
  TKzCmd c;
  c.Name = Name;
  c.AddParam("N").SetString(Name);
  TMemoryStream s;
  KzSaveCmdPayload({c}, s);
  return std::vector<uint8_t>(s.Memory(), s.Memory() + s.Size());
}

// The records of a queue: each payload as text.
std::vector<std::string> Payloads(TKzSendQueue& Q) {
  std::vector<uint8_t> all = Q.Take();
  std::vector<std::string> out;
  size_t pos = 0, size = 0;
  TKzHeaderPack pack;
  const uint8_t* p = nullptr;
  while (TKzSendQueue::NextRecord(all, pos, pack, p, size)) {
    EXPECT_EQ(pack.MARKER, MARKER_SESSION_DATA);
    out.emplace_back(reinterpret_cast<const char*>(p), size);
  }
  EXPECT_EQ(pos, all.size());
  return out;
}

TEST(SendQueue, NewestFrameMergesAndBounds) {
  const TGUID a = KzCreateGUID(), b = KzCreateGUID(), none;
  TKzSendQueue video(DATA_TYPE_VIDEO);
  for (const char* f : {"frame-1", "frame-2"}) video.AddData(a, none, none, Bytes(f).data(), 7);
  EXPECT_EQ(Payloads(video), std::vector<std::string>{"frame-2"});

  TKzSendQueue user(DATA_TYPE_USERDATA);
  EXPECT_EQ(user.AddData(a, none, none, Bytes("one").data(), 3), TKzQueueAdd::kzqaQueued);
  EXPECT_EQ(user.AddData(a, none, none, Bytes("two").data(), 3), TKzQueueAdd::kzqaMerged);
  user.AddData(b, none, none, Bytes("three").data(), 5);
  EXPECT_EQ(Payloads(user), (std::vector<std::string>{"onetwo", "three"}));

  // Merged commands keep a count that covers every one of them.
  TKzSendQueue cmds(DATA_TYPE_CMD);
  for (const char* n : {"Kz_A", "Hello", "KzS_B"}) {
    const std::vector<uint8_t> p = CmdPayload(n);
    cmds.AddData(a, none, none, p.data(), p.size());
  }
  const std::vector<std::string> merged = Payloads(cmds);
  ASSERT_EQ(merged.size(), 1u);
  TMemoryStream s;
  s.Write(merged[0].data(), static_cast<int64_t>(merged[0].size()));
  s.SetPosition(0);
  const std::vector<TKzCmd> read = KzLoadCmdPayload(s);
  ASSERT_EQ(read.size(), 3u);
  EXPECT_EQ(read[2].GetAsStringSafe("N"), "KzS_B");

  // Past the bound: audio drops its oldest records, user data is refused.
  const std::vector<uint8_t> block(400, 7);
  TKzSendQueue audio(DATA_TYPE_AUDIO, 1000);
  TKzSendQueue data(DATA_TYPE_USERDATA, 1000);
  int refused = 0;
  for (int i = 0; i < 4; ++i) {
    audio.AddData(i % 2 ? a : b, none, none, block.data(), block.size());  // no merging
    refused += data.AddData(i % 2 ? a : b, none, none, block.data(), block.size()) == TKzQueueAdd::kzqaRefused;
  }
  EXPECT_LE(audio.Bytes(), 1000u);
  EXPECT_EQ(audio.Records(), 2u);
  EXPECT_EQ(audio.Dropped(), 2u);
  EXPECT_EQ(refused, 2);
  EXPECT_EQ(data.Records(), 2u);

  // Records put back after a failed send come before what was queued meanwhile.
  TKzSendQueue back(DATA_TYPE_USERDATA);
  back.AddData(a, none, none, Bytes("old").data(), 3);
  std::vector<uint8_t> taken = back.Take();
  back.AddData(a, none, none, Bytes("new").data(), 3);
  back.PutBack(taken.data(), taken.size());
  EXPECT_EQ(Payloads(back), (std::vector<std::string>{"old", "new"}));
}

}  // namespace
