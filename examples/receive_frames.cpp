// Listens for senders on a TCP port for a while and saves the last frame of
// each as a PNG file; prints the commands and user data that come.
//   receive_frames [PORT [SECONDS [DIR]]]
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string>

#include "platform/fmxMKzPlatformMainThread.h"
#include "streaming/fmxMKzCamReceiver.h"
#include "video/fmxMKzImageFiles.h"

using namespace kz;

// Keeps the newest frame of every sender (called on the receiver's draw thread).
class TLastFrames : public IKzCamViewConsumer {
public:
  void ViewerGetImageBMP(TComponent*, const TKzMBitmap& Frame, bool, uint16_t, const TGUID& From) override {
    std::lock_guard<std::mutex> g(FLock);
    FLast[GUIDToStringA(From)] = Frame;
  }
  void Save(const std::string& Dir) {
    std::lock_guard<std::mutex> g(FLock);
    for (const auto& [sender, frame] : FLast) {
      std::string error, name = Dir + "/" + sender + ".png";
      if (!KzWriteImageFile(frame, name, error)) std::fprintf(stderr, "%s\n", error.c_str());
      else std::printf("%s\n", name.c_str());
    }
  }

private:
  std::mutex FLock;
  std::map<std::string, TKzMBitmap> FLast;
};

int main(int argc, char** argv) {
  SetMainThread();
  TKzCamReceiver receiver(nullptr);
  receiver.SetProtocol(TKzProtocol::kzpTCP);
  receiver.SetPort(static_cast<uint16_t>(argc > 1 ? std::atoi(argv[1]) : 7777));
  TLastFrames frames;
  receiver.RegisterCamView(&frames);
  // Events come on the main thread while it waits in PumpUntil.
  receiver.OnReceiveCmdData = [](TComponent*, TKzSessionKey, uint16_t, const TGUID& From, const TGUID&, const TGUID&,
                                 uint16_t, const TKzCmd& Cmd) {
    std::printf("command %s from %s\n", Cmd.Name.c_str(), GUIDToStringA(From).c_str());
  };
  receiver.OnReceiveUserData = [](TComponent*, TKzSessionKey, TMemoryStream& Data, int32_t, const TGUID& From,
                                  const TGUID&, const TGUID&, uint16_t) {
    std::printf("%lld bytes of user data from %s\n", static_cast<long long>(Data.Size()), GUIDToStringA(From).c_str());
  };
  receiver.SetActive(true);
  std::printf("listening on port %u\n", receiver.Port());
  const int seconds = argc > 2 ? std::atoi(argv[2]) : 10;
  PumpFor(seconds * 1000);
  receiver.SetActive(false);
  receiver.UnRegisterCamView(&frames);
  frames.Save(argc > 3 ? argv[3] : ".");
  return 0;
}
