// The sender's rules that need no peer: defaults and property rules, the
// command gate, speed table, sessions, frame sizes, the video clock, and
// the channel queue (newest frame, merging, bounds).
#include <gtest/gtest.h>

#include "platform/fmxMKzPlatformClock.h"
#include "sender/fmxMKzCamSender.h"
#include "streaming/Fmxmkzcmd.h"

using namespace kz;

namespace {

TEST(Sender, DefaultsAndPropertyRules) {
  TKzCamSender s(nullptr);
  EXPECT_FALSE(s.Active());
  EXPECT_EQ(s.Protocol(), TKzProtocol::kzpUDP);
  EXPECT_EQ(s.TCPConnectionType(), TKzTCPConnectionType::kztcpSenderToReceiver);
  EXPECT_EQ(s.ReceiverPort(), 7777);
  EXPECT_EQ(s.SenderPort(), 0);
  EXPECT_EQ(s.BufferSize(), 8192u);
  EXPECT_EQ(s.Encoding(), TKzEncodingType::kzetJPEG);
  EXPECT_EQ(s.CompressionQuality(), 90);
  EXPECT_EQ(s.VideoResolution(), TKzVideoResolution::kzDefault);
  EXPECT_EQ(s.SendMediaTypes().Bits(), 0x1F);
  EXPECT_EQ(s.SendOptions().Video, TKzMSendType::kzmvstStream);
  EXPECT_EQ(s.CompressionOptions().Cmd, TKzCompressionType::kztcNone);
  EXPECT_EQ(s.ProxyProperty().Port(), 8080);
  EXPECT_TRUE(s.UseGUID());
  EXPECT_EQ(s.FullFrameInterval, 25u);
  EXPECT_EQ(s.GetSessionKey(), 0u);

  // A datagram carries at most 65,507 bytes; switching to TCP keeps the lowered size.
  s.SetBufferSize(100000);
  EXPECT_EQ(s.BufferSize(), 65507u);
  s.SetProtocol(TKzProtocol::kzpTCP);
  EXPECT_EQ(s.BufferSize(), 65507u);
  s.SetBufferSize(100000);
  EXPECT_EQ(s.BufferSize(), 100000u);
  s.SetProtocol(TKzProtocol::kzpUDP);
  EXPECT_EQ(s.BufferSize(), 65507u);

  for (TKzEncodingType e : {TKzEncodingType::kzetJPEGChange, TKzEncodingType::kzetHWLChange,
                            TKzEncodingType::kzetPNGChange, TKzEncodingType::kzetMixFormat,
                            TKzEncodingType::kzetMixFormatChange})
    EXPECT_THROW(s.SetEncoding(e), EKzMediaError);
  EXPECT_EQ(s.Encoding(), TKzEncodingType::kzetJPEG);
  s.SetEncoding(TKzEncodingType::kzetHWL);
  EXPECT_EQ(s.Encoding(), TKzEncodingType::kzetHWL);
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

  struct Row {
    uint16_t Type;
    uint32_t Packet, Sleep;
  };
  for (const Row& r : {Row{1, 16384, 100}, Row{2, 8192, 200}, Row{4, 8192, 1000}, Row{8, 8192, 500},
                       Row{16, 8192, 1000}}) {
    s.SpeedDown(r.Type);
    EXPECT_EQ(s.ChannelSendParam(r.Type).BufferSize, 8192u) << "not before UpdateSendParam";
    const TKzSendParam p = s.UpdateSendParam(r.Type);
    EXPECT_EQ(p.BufferSize, r.Packet) << r.Type;
    EXPECT_EQ(p.Interval, r.Sleep) << r.Type;
    EXPECT_EQ(s.ModeForSend(r.Type), TKzModeSend::kzmsSpeedDown);
  }
  s.RestoreSpeed();
  for (uint16_t t : {1, 2, 4, 8, 16}) {
    EXPECT_EQ(s.ChannelSendParam(t).BufferSize, 8192u);
    EXPECT_EQ(s.ChannelSendParam(t).Interval, 0u);
  }
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
