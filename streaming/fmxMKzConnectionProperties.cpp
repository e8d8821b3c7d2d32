#include "streaming/fmxMKzConnectionProperties.h"

namespace kz {

void TKzConnectionProperties::Assign(const TPersistent& Source) {
  if (const auto* s = dynamic_cast<const TKzConnectionProperties*>(&Source)) {
    FConnectTimeout = s->FConnectTimeout;
    FVideoTimeout = s->FVideoTimeout;
    FAudioTimeout = s->FAudioTimeout;
    FCmdTimeout = s->FCmdTimeout;
    FDataTimeout = s->FDataTimeout;
    FFileTimeout = s->FFileTimeout;
    FBlockConnect = s->FBlockConnect;
    FBlockVideo = s->FBlockVideo;
    FBlockAudio = s->FBlockAudio;
    FBlockCmd = s->FBlockCmd;
    FBlockData = s->FBlockData;
    FBlockFile = s->FBlockFile;
    FMaxConnections = s->FMaxConnections;
  }
}

TKzReceiverConnectionProperties::TKzReceiverConnectionProperties() {
  FVideoTimeout = FAudioTimeout = FCmdTimeout = FDataTimeout = FFileTimeout = 15000;
}

uint32_t GetTimeOut(const TKzConnectionProperties& P, uint16_t DataType) {
  int32_t t = KZ_DEFAULT_TIMEOUT;
  switch (DataType & DATA_TYPE_MASK) {
    case DATA_TYPE_VIDEO: t = P.VideoTimeout(); break;
    case DATA_TYPE_AUDIO: t = P.AudioTimeout(); break;
    case DATA_TYPE_USERDATA: t = P.DataTimeout(); break;
    case DATA_TYPE_CMD: t = P.CmdTimeout(); break;
    case DATA_TYPE_FILE: t = P.FileTimeout(); break;
    default: break;
  }
  return static_cast<uint32_t>(t > 0 ? t : KZ_DEFAULT_TIMEOUT);
}

bool GetUseBlocking(const TKzConnectionProperties& P, uint16_t DataType) {
  switch (DataType & DATA_TYPE_MASK) {
    case DATA_TYPE_VIDEO: return P.UseBlockingSocketsForVideo();
    case DATA_TYPE_AUDIO: return P.UseBlockingSocketsForAudio();
    case DATA_TYPE_USERDATA: return P.UseBlockingSocketsForData();
    case DATA_TYPE_CMD: return P.UseBlockingSocketsForCmd();
    case DATA_TYPE_FILE: return P.UseBlockingSocketsForFile();
    default: return true;
  }
}

int32_t GetConnectTimeOut(const TKzConnectionProperties& P) {
  return P.UseBlockingSocketsForConnect() ? P.ConnectTimeout() : 0;
}

void TKzCompressionOptions::Assign(const TPersistent& Source) {
  if (const auto* s = dynamic_cast<const TKzCompressionOptions*>(&Source)) {
    Video = s->Video;
    Audio = s->Audio;
    UserData = s->UserData;
    Cmd = s->Cmd;
    FileData = s->FileData;
  }
}

TKzCompressionType TKzCompressionOptions::ForDataType(uint16_t DataType) const {
  switch (DataType & DATA_TYPE_MASK) {
    case DATA_TYPE_VIDEO: return Video;
    case DATA_TYPE_AUDIO: return Audio;
    case DATA_TYPE_USERDATA: return UserData;
    case DATA_TYPE_CMD: return Cmd;
    case DATA_TYPE_FILE: return FileData;
    default: return TKzCompressionType::kztcNone;
  }
}

void KzPostConnectionEvent(const void* Component, uint32_t Msg, WPARAM WParam, LPARAM LParam,
                           std::shared_ptr<void> Payload) {
  if (Component) KzMessages().PostMessage2(Component, Msg, WParam, LParam, std::move(Payload));
}

}  // namespace kz
