// The far end of the changed-area rows with the sender in another process:
//   kzchangepeer tcp|udp PORT png|bmp INTERVAL FRAMES
// pushes FRAMES frames of the synthetic camera's scene (160 x 120) to PORT
// with that Change encoding and FrameDifferenceInterval, one every 40 ms,
// and after each prints the frame's number and a digest of the picture the
// receiver must then show (the sender's RealSendBt).
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "apps/kzcamsim/kzcamsim_lib.h"
#include "platform/fmxMKzPlatformMainThread.h"
#include "sender/fmxMKzCamSender.h"

using namespace kz;

int main(int argc, char** argv) {
  if (argc != 6) return std::fprintf(stderr, "usage: kzchangepeer tcp|udp PORT png|bmp INTERVAL FRAMES\n"), 2;
  SetMainThread();
  const TKzEncodingType encoding =
      std::strcmp(argv[3], "png") == 0 ? TKzEncodingType::kzetPNGChange : TKzEncodingType::kzetBMPChange;
  TKzCamSender s(nullptr);
  const bool udp = std::strcmp(argv[1], "udp") == 0;
  s.SetProtocol(udp ? TKzProtocol::kzpUDP : TKzProtocol::kzpTCP);
  if (udp) s.SetBufferSize(65507), s.TimeMSecBetweenSend = 1;
  s.SetReceiverHost("127.0.0.1");
  s.SetReceiverPort(static_cast<uint16_t>(std::atoi(argv[2])));
  s.SetEncoding(encoding);
  s.SetFrameDifferenceInterval(static_cast<uint16_t>(std::atoi(argv[4])));
  s.SetActive(true);
  const TKzImageInfoPtr item = s.ImageInfos().GetImageInfo(TGUID{}, 0);
  const uint32_t frames = static_cast<uint32_t>(std::atoi(argv[5]));
  TKzMBitmap frame;
  for (uint32_t n = 0; n < frames; ++n) {
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
    kzcamsim::KzSimDrawFrame(frame, 160, 120, n, 1700000000000LL + n * 40);
    if (!s.SendImageEx(frame, 0)) continue;
    uint64_t d = 1469598103934665603ull;
    item->Lock();
    for (int64_t i = 0; i < item->RealSendBt->GetLength(); ++i) d = (d ^ item->RealSendBt->Data()[i]) * 1099511628211ull;
    item->Unlock();
    std::printf("%u %llu\n", n, static_cast<unsigned long long>(d));
    std::fflush(stdout);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  s.SetActive(false);
  return 0;
}
