#include "apps/kzrelay/kzrelay_web.h"

#include <algorithm>

#include "apps/common/kzappconsole.h"

using namespace kzapp;

bool TKzRelayWeb::Start(uint16_t Port, std::string& Error) {
  const kz::TGUID watcher = kz::KzCreateGUID();
  FServer.SetWatcher(watcher);
  FReceiver = std::make_unique<kz::TKzCamReceiver>(nullptr);
  FReceiver->SetProtocol(kz::TKzProtocol::kzpHTTP);
  FReceiver->SetTCPConnectionType(kz::TKzTCPConnectionType::kztcpReceiverToSender);
  FReceiver->SetGUIDMy(kz::GUIDToStringA(watcher));
  FReceiver->SetReceiveMediaTypes({kz::TKzMediaType::kzmtVideo});
  auto& item = FReceiver->Senders().Add();
  item.SetSenderHost("127.0.0.1");
  item.SetSenderPort(FServer.HTTPBoundPort());
  FWeb = std::make_unique<kz::TKzHttpVideoServer>(nullptr);
  FWeb->SetPort(Port);
  FWeb->SetActive(true);
  if (!FWeb->Active()) {
    Error = FWeb->LastError();
    Stop();
    return false;
  }
  FReceiver->SetActive(true);
  return true;
}

void TKzRelayWeb::Publish() {
  if (!FWeb) return;
  for (const kz::TGUID& g : FServer.WatchedSenders()) {
    if (std::find(FPublished.begin(), FPublished.end(), g) != FPublished.end()) continue;
    FPublished.push_back(g);
    std::string name = kz::GUIDToStringA(g);
    name = name.substr(1, name.size() - 2);
    if (FWeb->Publish(name, FReceiver.get(), g))
      KzErr("kzrelay: web: %s\n", (FWeb->PageURL() + "video/" + name.substr(0, 8) + "....mjpg").c_str());
  }
}

void TKzRelayWeb::Stop() {
  FServer.SetWatcher(kz::TGUID{});
  if (FWeb) {
    FWeb->SetActive(false);
    for (const std::string& name : FWeb->Published()) FWeb->Unpublish(name);
  }
  if (FReceiver) FReceiver->SetActive(false);
  FWeb.reset();
  FReceiver.reset();
  FPublished.clear();
}
