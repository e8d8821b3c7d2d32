// The relay between our sender and receiver, and the relay's own rules
// spoken on the wire.
#include <fstream>
#include <map>
#include <set>

#include "tests/streaming/kzrelaytestutil.h"

using namespace kz;
using namespace kztest;

TEST(Relay, BindFailureIsReportedAndEachStartHasANewKey) {
  TRelay a;
  std::vector<TKzProtocol> errors;
  TKzMediaServer b(nullptr);
  b.OnError = [&](TKzMediaServer*, TKzProtocol P) { errors.push_back(P); };
  b.SetHTTPPort(a.Port());
  b.SetHTTPActive(true);
  EXPECT_FALSE(b.HTTPActive());
  ASSERT_TRUE(PumpUntil([&] { return !errors.empty(); }));
  EXPECT_EQ(errors[0], TKzProtocol::kzpHTTP);
  EXPECT_EQ(b.SessionKey(), 0u);
  const uint32_t key = a.Server.SessionKey();
  a.Server.Restart();
  EXPECT_EQ(a.Server.SessionKey(), key + 1);
  TRawPeer p(a.Port());
  ASSERT_TRUE(p.Request("VDGET", 2));
  EXPECT_EQ(p.Answer().Begin.SessionKey, key + 1) << "answers carry the relay's key";
}

TEST(Relay, AChannelHasOneHolderAndTheUserHearsOfASecond) {
  TRelay relay;
  TPuller cmds(relay.Port(), 2, "CDGET");
  TPuller video(relay.Port(), 2, "VDGET");
  EXPECT_EQ(relay.Server.ChannelStats().size(), 2u);
  TRawPeer intruder(relay.Port());
  ASSERT_TRUE(intruder.Request("VDGET", 2));
  EXPECT_TRUE(intruder.Closed());
  const auto got = cmds.CommandsUntil("KzS_DISCONNECT");
  const TKzCmd* d = Find(got, "KzS_DISCONNECT");
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(d->GetAsStringSafe("Reason"), "OTHER USER");
  EXPECT_TRUE(video.Poll().Valid) << "the holder keeps its channel";
  TRawPeer anonymous(relay.Port());
  ASSERT_TRUE(anonymous.Request("UDGET", 0));
  EXPECT_TRUE(anonymous.Closed()) << "a null GUID closes the connection";
}

TEST(Relay, RoutesByGUIDGroupAndDefaultReceiversAsMasksAllow) {
  TRelay relay;
  std::map<int, std::unique_ptr<TPuller>> rx;
  for (int u : {1, 2, 3, 4}) rx[u] = std::make_unique<TPuller>(relay.Port(), u, "UDGET");
  TRawPeer control(relay.Port()), sender(relay.Port());
  for (int u : {1, 2, 3}) ASSERT_TRUE(control.Send(CmdPacket(JoinCmd(50), u)));
  ASSERT_TRUE(control.Send(CmdPacket(Cmd("KzS_ADD_SENDER_USER", {{"GUIDUser", GuidText(4)}}), 1)));
  struct Row {
    const char* Name;
    std::vector<TBytes> Before;  // commands sent first
    int To, Group;
    std::set<int> Expected;
  };
  const std::vector<Row> rows = {
      {"by GUIDTo", {}, 2, 0, {2}},
      {"by group, not back to the sender", {}, 0, 50, {2, 3}},
      {"to the default receivers", {}, 0, 0, {4}},
      {"from nobody", {CmdPacket(Cmd("KzS_DEL_RECV_ALL"), 3)}, 3, 0, {}},
      {"from one listed sender", {CmdPacket(Cmd("KzS_ADD_RECV_USER", {{"GUIDUser", GuidText(1)}}), 3)}, 3, 0, {3}},
      {"the last listed sender removed", {CmdPacket(Cmd("KzS_DEL_RECV_USER", {{"GUIDUser", GuidText(1)}}), 3)}, 3, 0, {}},
      {"a sender not listed", {CmdPacket(Cmd("KzS_ADD_RECV_USER", {{"GUIDUser", GuidText(9)}}), 2)}, 2, 0, {}},
  };
  for (const Row& row : rows) {
    for (const TBytes& b : row.Before) ASSERT_TRUE(sender.Send(b));
    ASSERT_TRUE(sender.Send(UserPacket(row.Name, 1, row.To, row.Group)));
    // One connection is routed in order: once 4 has the end mark, the row went wherever it goes.
    ASSERT_TRUE(sender.Send(UserPacket("end", 9, 4, 0)));
    for (int u : {4, 1, 2, 3}) {
      const auto got = u == 4 ? rx[u]->Until("end") : Texts(rx[u]->Poll());
      const bool delivered = std::find(got.begin(), got.end(), row.Name) != got.end();
      EXPECT_EQ(delivered, row.Expected.count(u) == 1) << row.Name << ", user " << u;
    }
  }
}

TEST(Relay, GroupJoinsOptionsAndListsAnswerAsConfigured) {
  TRelay relay;
  relay.Server.SetMaxGroupCount(1);
  std::vector<std::string> seen;  // OnServerCmd: the connection threads
  std::mutex lock;
  relay.Server.OnServerCmd = [&](TKzMediaServer*, const std::string&, const std::string&, const std::string&,
                                 const TKzCmd& C) {
    std::lock_guard<std::mutex> g(lock);
    seen.push_back(C.Name);
  };
  TPuller a(relay.Port(), 2, "CDGET"), b(relay.Port(), 3, "CDGET");
  TRawPeer ctl(relay.Port());
  auto result = [](TPuller& P) {
    const auto got = P.CommandsUntil("KzS_RESULT_GROUP_JOIN");
    const TKzCmd* r = Find(got, "KzS_RESULT_GROUP_JOIN");
    return r ? std::make_pair(r->GetAsBooleanSafe("Access", false), r->GetAsIntegerSafe("Error", 0))
             : std::make_pair(false, int64_t{-1});
  };
  struct Row {
    const char* Name;
    int User, Group;
    std::string Password;
    bool OnlyExisting;
    bool Access;
    int64_t Error;
  };
  for (const Row& r : {Row{"creates the group", 2, 60, "pw", false, true, 0},
                       Row{"a second group passes MaxGroupCount", 2, 61, "", false, false, 1},
                       Row{"only an existing group", 3, 62, "", true, false, 1},
                       Row{"wrong password", 3, 60, "nope", false, false, 2},
                       Row{"right password", 3, 60, "pw", false, true, 0}}) {
    ASSERT_TRUE(ctl.Send(CmdPacket(JoinCmd(r.Group, r.Password, r.OnlyExisting), r.User)));
    EXPECT_EQ(result(r.User == 2 ? a : b), std::make_pair(r.Access, r.Error)) << r.Name;
  }
  // Lists honour CmdOptions; without them the command goes to its GUIDTo like any other.
  ASSERT_TRUE(ctl.Send(CmdPacket(Cmd("KzS_GET_ALL_USERS"), 2, 3)));
  EXPECT_NE(Find(b.CommandsUntil("KzS_GET_ALL_USERS"), "KzS_GET_ALL_USERS"), nullptr);
  TKzCmdOptions all;
  all += TKzCmdOption::kzcpUseSystemCmd;
  all += TKzCmdOption::kzcpCmdAllUsers;
  relay.Server.SetCmdOptions(all);
  ASSERT_TRUE(ctl.Send(CmdPacket(Cmd("KzS_GET_ALL_USERS"), 2, 3)));
  const auto users = a.CommandsUntil("KzS_RESULT_GET_ALL_USERS");
  const TKzCmd* list = Find(users, "KzS_RESULT_GET_ALL_USERS");
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(list->GetAsIntegerSafe("GUIDCount", 0), 2);
  EXPECT_EQ(list->GetAsStringSafe("GUIDUser1"), GuidText(2)) << "sorted by the GUID's bytes";
  EXPECT_EQ(list->GetAsStringSafe("GUIDUser2"), GuidText(3));
  // A forwarded command is seen by the server and still delivered.
  ASSERT_TRUE(ctl.Send(CmdPacket(Cmd("KzSU_HELLO"), 2, 3)));
  EXPECT_NE(Find(b.CommandsUntil("KzSU_HELLO"), "KzSU_HELLO"), nullptr);
  std::lock_guard<std::mutex> g(lock);
  EXPECT_NE(std::find(seen.begin(), seen.end(), "KzSU_HELLO"), seen.end());
}

TEST(Relay, FullBufferWarnsIsClearedAndTheSenderHears) {
  TRelay relay;
  relay.Server.SetHTTPActive(false);
  relay.Server.BufferOptions().SetUserDataBufferSize(8000);
  relay.Server.BufferOptions().SetLimitType(TKzBufferLimitType::kzbltLimitAll);
  relay.Server.SetHTTPActive(true);
  std::vector<std::pair<TKzKindLimit, bool>> notices;  // main thread
  relay.Server.OnLimitBuffer = [&](TKzMediaServer*, const TGUID&, uint16_t, int32_t, int32_t, TKzKindLimit K) {
    notices.emplace_back(K, true);
  };
  relay.Server.OnNotLimitBuffer = [&](TKzMediaServer*, const TGUID&, uint16_t, int32_t, int32_t, TKzKindLimit K) {
    notices.emplace_back(K, false);
  };
  TPuller slow(relay.Port(), 2, "UDGET"), senderCmds(relay.Port(), 1, "CDGET");
  TRawPeer sender(relay.Port());
  const std::string block(1000, 'x');
  for (int i = 0; i < 9; ++i) ASSERT_TRUE(sender.Send(UserPacket(block, 1, 2, 0)));
  const auto told = senderCmds.CommandsUntil("KzS_CLEAR_BUFFER");
  EXPECT_NE(Find(told, "KzS_LIMIT_BUFFER"), nullptr);
  const TKzCmd* clear = Find(told, "KzS_CLEAR_BUFFER");
  ASSERT_NE(clear, nullptr);
  EXPECT_EQ(clear->GetAsStringSafe("GUIDTo"), GuidText(2));
  ASSERT_TRUE(PumpUntil([&] { return notices.size() >= 2; }));
  EXPECT_EQ(notices[0], std::make_pair(TKzKindLimit::kzmklWarrning, true));
  EXPECT_EQ(notices[1], std::make_pair(TKzKindLimit::kzmklClearBuffer, true));
  EXPECT_LT(Texts(slow.Poll()).size(), 5u) << "what was held went";
  ASSERT_TRUE(sender.Send(UserPacket("after", 1, 2, 0)));
  EXPECT_EQ(slow.Until("after").back(), "after");
  ASSERT_TRUE(PumpUntil([&] { return notices.size() >= 3; }));
  EXPECT_EQ(notices[2], std::make_pair(TKzKindLimit::kzmklWarrning, false)) << "back below a quarter";
  {
    TRawPeer passing(relay.Port());  // its connection's end is no buffer notice
    ASSERT_TRUE(passing.Request("VDGET", 9));
    passing.Answer();
  }
  KzMWait(500);
  EXPECT_EQ(notices.size(), 3u);
}

TEST(Relay, AnIdleCommandChannelEndsAndTheGroupHearsTheUserLeft) {
  TRelay relay;
  std::vector<std::string> gone;
  relay.Server.OnUserDisconnect = [&](TKzMediaServer*, const std::string& U, TKzMediaType) { gone.push_back(U); };
  TPuller stays(relay.Port(), 3, "CDGET");
  TRawPeer ctl(relay.Port());
  {
    TPuller leaves(relay.Port(), 2, "CDGET");
    ASSERT_TRUE(ctl.Send(CmdPacket(JoinCmd(70), 2)));
    ASSERT_TRUE(ctl.Send(CmdPacket(JoinCmd(70), 3)));
    ASSERT_NE(Find(stays.CommandsUntil("KzS_RESULT_GROUP_JOIN"), "KzS_RESULT_GROUP_JOIN"), nullptr);
    // Not polled from here on; its connection stays open.
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(25);
    std::vector<TKzCmd> heard;
    while (!Find(heard, "KzS_GROUP_LEAVE") && std::chrono::steady_clock::now() < end) {
      for (auto& c : AnswerCommands(stays.Poll())) heard.push_back(c);
      KzMWait(500);
    }
    EXPECT_NE(Find(heard, "KzS_GROUP_LEAVE"), nullptr) << "no poll for 15 s ends the channel";
  }
  ASSERT_TRUE(PumpUntil([&] { return !gone.empty(); }));
  EXPECT_EQ(gone[0], GuidText(2));
}

// Every kind our sender sends reaches our receiver through the relay as it
// was sent, pushed over HTTP or UDP, compressed or not.
TEST(RelayMatrix, EveryKindArrivesAsSentOverHTTPAndUDP) {
  struct Row {
    TKzProtocol Protocol;
    TKzCompressionType Compression;
  };
  const std::string file = testing::TempDir() + "kzrelay-matrix.bin";
  TBytes fileBytes(300000);
  for (size_t i = 0; i < fileBytes.size(); ++i) fileBytes[i] = static_cast<uint8_t>((i * 7919) >> 3);
  std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(fileBytes.data()),
                                              static_cast<std::streamsize>(fileBytes.size()));
  const TBytes pcm = [] {
    TBytes b(3200);
    for (size_t i = 0; i < b.size(); ++i) b[i] = static_cast<uint8_t>(i * 13);
    return b;
  }();
  const TBytes user = {'u', 's', 'e', 'r', 0, 1, 2, 'm', 'd', 'B', 'D', 3};  // a marker inside a payload
  TRelay relay(true);
  for (const Row& row : {Row{TKzProtocol::kzpHTTP, TKzCompressionType::kztcNone},
                         Row{TKzProtocol::kzpHTTP, TKzCompressionType::kztcParts},
                         Row{TKzProtocol::kzpHTTP, TKzCompressionType::kztcFully},
                         Row{TKzProtocol::kzpUDP, TKzCompressionType::kztcNone},
                         Row{TKzProtocol::kzpUDP, TKzCompressionType::kztcFully}}) {
    const bool udp = row.Protocol == TKzProtocol::kzpUDP;
    const std::string name = std::string(udp ? "udp" : "http") + " compression " +
                             std::to_string(static_cast<int>(row.Compression));
    auto rx = RelayReceiver(relay.Port(), 2, TKzMediaTypes::FromBits(31));
    ASSERT_TRUE(PumpUntil([&] { return relay.Server.ChannelStats().size() == 5; })) << name;
    auto tx = std::make_unique<TKzCamSender>(nullptr);
    tx->SetProtocol(row.Protocol);
    tx->SetReceiverHost("127.0.0.1");
    tx->SetReceiverPort(udp ? relay.Server.UDPBoundPort() : relay.Port());
    tx->SetGUIDFrom(GuidText(1));
    tx->SetGUIDTo(GuidText(2));
    tx->TimeMSecBetweenSend = udp ? 2 : 0;  // datagrams lost to a full socket buffer are lost for good
    auto& c = tx->CompressionOptions();
    c.Video = c.Audio = c.UserData = c.Cmd = c.FileData = row.Compression;
    tx->SetActive(true);
    const TKzMBitmap png = PatternBitmap(5);
    tx->SetEncoding(TKzEncodingType::kzetPNG);
    ASSERT_TRUE(PumpUntil([&] {
      tx->SendImageEx(png, 0);
      return rx->Count(rx->Shown) >= 1;
    }, 20000)) << name;
    TMemoryStream audio, data;
    audio.Write(pcm.data(), static_cast<int64_t>(pcm.size()));
    data.Write(user.data(), static_cast<int64_t>(user.size()));
    TKzAudioInfo ai;
    ai.SamplesPerSec = 8000;
    ai.BitsPerSample = TKzBitsPerSample::kzbps16;
    ai.Channels = 1;
    EXPECT_TRUE(tx->SendAudioTrack(0, 0, ai, audio)) << name;
    EXPECT_TRUE(tx->SendUserData(data)) << name;
    EXPECT_TRUE(tx->SendCmd(Cmd("Hello", {{"Text", name}}))) << name;
    EXPECT_TRUE(tx->SendFile(file)) << name;
    ASSERT_TRUE(PumpUntil([&] {
      return rx->Count(rx->Audio) >= 1 && rx->Count(rx->UserData) >= 1 && rx->Count(rx->Commands) >= 1 &&
             rx->FileBytes().size() >= fileBytes.size();
    }, 30000)) << name << ": audio " << rx->Count(rx->Audio) << ", user data " << rx->Count(rx->UserData)
                   << ", commands " << rx->Count(rx->Commands) << ", file bytes " << rx->FileBytes().size();
    std::lock_guard<std::mutex> g(rx->Lock);
    EXPECT_TRUE(SamePixels(rx->Shown.front().second, png)) << name;
    EXPECT_EQ(rx->Shown.front().first, Guid(1)) << name;
    EXPECT_EQ(rx->Audio.front().second, pcm) << name;
    EXPECT_EQ(rx->UserData.front(), user) << name;
    EXPECT_EQ(rx->Commands.front().second.GetAsStringSafe("Text"), name);
    TBytes got;
    for (const auto& f : rx->Files) got.insert(got.end(), f.Data.begin(), f.Data.end());
    EXPECT_TRUE(got == fileBytes) << name << ": " << got.size() << " file bytes";
  }
}

TEST(RelayFanOut, FiftyReceiversInThreeGroupsGetWhatIsAddressedToThemOnly) {
  constexpr int kReceivers = 50;
  TRelay relay;
  std::vector<std::unique_ptr<TReceiverProbe>> rx;
  TRawPeer ctl(relay.Port());
  const auto groupOf = [](int R) { return 100 + R % 3; };
  for (int r = 0; r < kReceivers; ++r) {
    rx.push_back(RelayReceiver(relay.Port(), 10 + r, {TKzMediaType::kzmtUserData}));
    ASSERT_TRUE(ctl.Send(CmdPacket(JoinCmd(groupOf(r)), 10 + r)));
  }
  ASSERT_TRUE(PumpUntil([&] { return relay.Server.ChannelStats().size() == kReceivers; }, 30000));
  auto tx = RelaySender(relay.Port(), 1, 0, 0);
  // The sender may join payloads queued together: what counts is the bytes, in order.
  std::vector<std::string> expected(kReceivers);
  for (int round = 0; round < 3; ++round)
    for (int g = 100; g < 103; ++g) {
      const std::string text = "[group " + std::to_string(g) + " round " + std::to_string(round) + "]";
      SendText(*tx, text, 0, g);
      for (int r = 0; r < kReceivers; ++r)
        if (groupOf(r) == g) expected[r] += text;
    }
  SendText(*tx, "[only 17]", 17, 0);
  expected[7] += "[only 17]";
  ASSERT_TRUE(PumpUntil([&] {
    for (int r = 0; r < kReceivers; ++r)
      if (Joined(*rx[r]).size() < expected[r].size()) return false;
    return true;
  }, 60000));
  KzMWait(300);  // anything misrouted would be in by now
  for (int r = 0; r < kReceivers; ++r) EXPECT_EQ(Joined(*rx[r]), expected[r]) << "receiver " << r;
}

TEST(RelayAuth, ProvenParticipantsPassAndSpoofingFailsAndIsLogged) {
  TRelay relay;
  auto auth = std::make_shared<TKzServerAuth>();
  std::string error;
  ASSERT_TRUE(auth->LoadText(GuidText(1) + " s1 " + GuidText(200) + "\n" + GuidText(2) + " s2 " + GuidText(200) + "\n",
                             error)) << error;
  relay.Server.SetAuth(auth);
  // Our components prove themselves and get through.
  auto rx = RelayReceiver(relay.Port(), 2, {TKzMediaType::kzmtVideo, TKzMediaType::kzmtUserData}, "s2");
  auto tx = RelaySender(relay.Port(), 1, 2, 0, TKzProtocol::kzpHTTP, "s1");
  ASSERT_TRUE(PumpUntil([&] {
    tx->SendImageEx(PatternBitmap(1), 0);
    return rx->Count(rx->Shown) >= 1;
  }, 20000));
  // And the rest does not.
  const TBytes proof1 = KzMakeAuthPacket(Guid(1), "s1");
  struct Row {
    const char* Name;
    TBytes First;            // sent first
    std::function<void(TRawPeer&)> Then;
    bool Closed;
    const char* Refusal;
  };
  const std::vector<Row> rows = {
      {"no proof", {}, [](TRawPeer& P) { P.Request("VDGET", 3); }, true, "no proof within 5 s"},
      {"wrong secret", KzMakeAuthPacket(Guid(1), "guess"), [](TRawPeer&) {}, true, "wrong proof"},
      {"unknown participant", KzMakeAuthPacket(Guid(5), "s1"), [](TRawPeer&) {}, true, "unknown participant"},
      {"first use of a proof", proof1, [](TRawPeer&) {}, false, nullptr},
      {"replayed proof", proof1, [](TRawPeer&) {}, true, "replayed proof"},
      {"a channel for another GUID", KzMakeAuthPacket(Guid(1), "s1"), [](TRawPeer& P) { P.Request("VDGET", 2); }, true,
       "channel request for another GUID"},
      {"sending as another GUID", KzMakeAuthPacket(Guid(1), "s1"),
       [](TRawPeer& P) { P.Send(UserPacket("spoof", 2, 2, 0)); }, false, "packet sent as another GUID"},
      {"joining a group not listed", KzMakeAuthPacket(Guid(1), "s1"),
       [](TRawPeer& P) { P.Send(CmdPacket(JoinCmd(201), 1)); }, false, "join of a group not listed"},
  };
  for (const Row& row : rows) {
    const size_t before = relay.RefusalCount();
    TRawPeer p(relay.Port());
    if (!row.First.empty()) {
      ASSERT_TRUE(p.Send(row.First)) << row.Name;
    }
    row.Then(p);
    EXPECT_EQ(p.Closed(row.Closed ? 8000 : 300), row.Closed) << row.Name;
    if (row.Refusal) {
      ASSERT_TRUE(PumpUntil([&] { return relay.RefusalCount() > before; })) << row.Name;
      std::lock_guard<std::mutex> g(relay.Lock);
      EXPECT_EQ(relay.Refusals.back(), row.Refusal) << row.Name;
    }
  }
  ASSERT_TRUE(PumpUntil([&] { return relay.Server.ChannelStats().size() == 2; }));
  KzMWait(500);  // a spoofed packet would have arrived by now
  EXPECT_EQ(rx->Count(rx->UserData), 0u) << "nothing sent as another GUID is delivered";
}
