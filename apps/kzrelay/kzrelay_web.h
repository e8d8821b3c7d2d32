// kzrelay --web: what passes through the relay, in a browser. The relay's
// watcher is a receiver inside kzrelay that pulls every sender's video
// from the relay's own port; each sender it has seen is published by its
// GUID (without braces) as "/video/GUID.mjpg" and "/snapshot/GUID.jpg",
// with the wall page at "/".
#pragma once
#include <cstdint>
#include <memory>
#include <vector>
#include <string>

#include "streaming/fmxMKzCamReceiver.h"
#include "streaming/server/fmxMKzMediaServer.h"
#include "webserver/fmxMKzHttpVideoServer.h"

class TKzRelayWeb {
public:
  explicit TKzRelayWeb(kz::TKzMediaServer& Server) : FServer(Server) {}
  ~TKzRelayWeb() { Stop(); }
  // Serves on 127.0.0.1:Port; false with Error set when it cannot. Main thread.
  bool Start(uint16_t Port, std::string& Error);
  // Publishes the senders seen since the last call. Main thread.
  void Publish();
  void Stop();
  std::string PageURL() const { return FWeb ? FWeb->PageURL() : std::string(); }

private:
  kz::TKzMediaServer& FServer;
  std::unique_ptr<kz::TKzCamReceiver> FReceiver;
  std::unique_ptr<kz::TKzHttpVideoServer> FWeb;
  std::vector<kz::TGUID> FPublished;
};
