// The far end of the sender-to-receiver tests: real TKzCamSenders in their
// own process.
//   kzsenderpeer tcp|udp|http push|pull PORT,PORT,PORT,PORT ROW EPOCH SECONDS
// runs four senders, sender k with compression on for odd k and GUIDs for
// k >= 2, encoding JPEG, PNG or BMP by (k + ROW) % 3, pushing to the one
// PORT or listening on its own. Every 40 ms each sends a frame, every
// 40 ms an audio block, every 200 ms a command and a user-data item, and a
// file now and then; what they carry is what kzlinktest.h expects. It ends
// after SECONDS, or when killed.
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/fmxMKzPlatformMainThread.h"
#include "sender/fmxMKzCamSender.h"
#include "tests/streaming/kzlinktest.h"

using namespace kz;
using namespace kztest;

int main(int argc, char** argv) {
  if (argc != 7) return std::fprintf(stderr, "usage: kzsenderpeer PROTO push|pull PORTS ROW EPOCH SECONDS\n"), 2;
  SetMainThread();
  const std::string proto = argv[1];
  const bool pull = std::string(argv[2]) == "pull";
  std::vector<uint16_t> ports;
  std::stringstream list(argv[3]);
  for (std::string p; std::getline(list, p, ',');) ports.push_back(static_cast<uint16_t>(std::atoi(p.c_str())));
  const int row = std::atoi(argv[4]), epoch = std::atoi(argv[5]);
  const double seconds = std::atof(argv[6]);
  if (ports.size() != kLinkSenders) return 2;
  const std::string dir = "/tmp/kzsenderpeer-" + std::to_string(getpid());
  std::filesystem::create_directories(dir);

  std::vector<std::unique_ptr<TKzCamSender>> senders;
  for (size_t k = 0; k < kLinkSenders; ++k) {
    const TLinkSender c = LinkSender(k, row);
    auto s = std::make_unique<TKzCamSender>(nullptr);
    s->SetProtocol(pull ? TKzProtocol::kzpTCP
                        : proto == "udp" ? TKzProtocol::kzpUDP
                        : proto == "http" ? TKzProtocol::kzpHTTP
                                          : TKzProtocol::kzpTCP);
    if (proto == "udp") s->SetBufferSize(65507), s->TimeMSecBetweenSend = 1;
    s->SetEncoding(c.Encoding);
    s->SetUseGUID(c.UseGUID);
    s->SetGUIDFrom(ConvertGUIDToStr(c.GUID));
    if (c.Compressed) {
      TKzCompressionOptions& o = s->CompressionOptions();
      o.Video = o.UserData = TKzCompressionType::kztcFully;
      o.Audio = o.Cmd = o.FileData = TKzCompressionType::kztcParts;
    }
    if (pull) {
      s->SetTCPConnectionType(TKzTCPConnectionType::kztcpReceiverToSender);
      s->SetSenderPort(ports[k]);
    } else {
      s->SetReceiverHost("127.0.0.1");
      s->SetReceiverPort(ports[k]);
    }
    s->SetActive(true);
    if (pull && s->ListeningPort() == 0) return std::fprintf(stderr, "kzsenderpeer: cannot listen\n"), 1;
    senders.push_back(std::move(s));
  }
  std::printf("ready\n");
  std::fflush(stdout);

  std::atomic<bool> stop{false};
  std::vector<std::thread> threads;
  for (size_t k = 0; k < kLinkSenders; ++k) {
    TKzCamSender& s = *senders[k];
    threads.emplace_back([&, k] {  // frames, audio, commands, user data
      auto due = std::chrono::steady_clock::now();
      for (uint32_t n = 0; !stop; ++n) {
        std::this_thread::sleep_until(due += std::chrono::milliseconds(40));
        s.SendImageEx(LinkFrame(k, epoch, n % kLinkFrames), 0);
        TMemoryStream a;
        const TBytes block = LinkItem(k, n, 320);
        a.Write(block.data(), static_cast<int64_t>(block.size()));
        s.SendAudioTrack(0, static_cast<int64_t>(n) * 40, LinkAudioInfo(), a);
        if (n % 5) continue;
        s.SendCmd(LinkCommand(k, n / 5), "", "", 0);
        TMemoryStream u;
        const TBytes item = LinkItem(k, n / 5, 1000 + n % 700);
        u.Write(item.data(), static_cast<int64_t>(item.size()));
        s.SendUserData(u, "", "", 0);
      }
    });
    threads.emplace_back([&, k] {  // files, one at a time
      for (uint32_t n = 0; !stop; ++n) {
        const std::string name = dir + "/" + LinkFileName(k, n);
        const TBytes bytes = LinkItem(k, n, LinkFileSize(n));
        std::ofstream(name, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                    static_cast<std::streamsize>(bytes.size()));
        if (s.SendFile(name, 0)) s.WaitSendFileData(0, 10000);
        for (int i = 0; i < 50 && !stop; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
    });
  }
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (std::chrono::steady_clock::now() < end) KzMWait(20);
  stop = true;
  for (auto& t : threads) t.join();
  for (auto& s : senders) s->SetActive(false);
  std::filesystem::remove_all(dir);
  return 0;
}
