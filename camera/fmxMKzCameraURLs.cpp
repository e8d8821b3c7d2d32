// Stream URLs of a camera from the template tables: preparing a template,
// the candidate list, and probing the candidates.
#include <algorithm>
#include <cstring>
#include <vector>

#include "camera/fmxMKzCamera.h"
#include "camera/fmxMKzCamCommands.h"
#include "inet/fmxMKzInet.h"
#include "inet/fmxMKzURLFuncs.h"
#include "platform/fmxMKzPlatformMainThread.h"

namespace kz {

namespace {
bool MatchAt(const std::string& S, size_t Pos, const char* What) {
  const size_t n = std::strlen(What);
  if (Pos + n > S.size()) return false;
  for (size_t k = 0; k < n; ++k)
    if (std::tolower(static_cast<unsigned char>(S[Pos + k])) != std::tolower(static_cast<unsigned char>(What[k])))
      return false;
  return true;
}

// S without every occurrence of What (letter case ignored).
std::string RemoveAll(const std::string& S, const char* What) {
  std::string out;
  out.reserve(S.size());
  for (size_t i = 0; i < S.size();) {
    if (MatchAt(S, i, What)) {
      i += std::strlen(What);
    } else {
      out += S[i++];
    }
  }
  return out;
}

// The size clauses a camera without a chosen resolution leaves out.
const char* const kSizeClauses[] = {"?[WIDTH]x[HEIGHT]", "&Size=[WIDTH]x[HEIGHT]", "&resolution=[WIDTH]%C3%97[HEIGHT]"};
}  // namespace

std::string PrepareURL(const TKzCamera& Camera, const std::string& Template) {
  const bool rtsp = KzLowerCase(Template).find("rtsp://") != std::string::npos;
  const uint16_t port = rtsp ? Camera.RTSPPort() : Camera.CameraPort();
  std::string host = Camera.CameraHost();
  if (port != 0) host.append(":").append(std::to_string(port));

  std::string t = Template;
  int32_t width = 0, height = 0;
  const bool withSize = Camera.VideoResolution() != TKzVideoResolution::kzDefault;
  if (withSize) {
    GetSizeFromResolution(Camera.VideoResolution(), width, height);
  } else {
    for (const char* clause : kSizeClauses) t = RemoveAll(t, clause);
  }

  struct TPlaceholder {
    const char* Name;
    std::string Value;
    bool Active;
  };
  const TPlaceholder placeholders[] = {
      {"IPADDRESS", host, true},
      {"[WIDTH]", std::to_string(width), withSize},
      {"[HEIGHT]", std::to_string(height), withSize},
      {"[CHANNEL]", std::to_string(Camera.CameraChannel()), true},
      {"[FPS]", std::to_string(Camera.GetFramePerSecInt()), true},
      {"[USERNAME]", KzEncodeURLComponent(Camera.UserName()), true},
      {"[PASSWORD]", KzEncodeURLComponent(Camera.UserPassword()), true},
  };
  std::string out;
  out.reserve(t.size() + 64);
  for (size_t i = 0; i < t.size();) {
    bool replaced = false;
    for (const TPlaceholder& p : placeholders) {
      if (!p.Active || !MatchAt(t, i, p.Name)) continue;
      out += p.Value;
      i += std::strlen(p.Name);
      replaced = true;
      break;
    }
    if (!replaced) out += t[i++];
  }
  return out;
}

void TKzCamera::FillCamURLs(std::vector<std::string>& List, std::span<const TKzCamFormat> Table, int32_t HighIndex,
                            TKzCameraTypes Types) const {
  const int32_t last = std::min<int32_t>(HighIndex, static_cast<int32_t>(Table.size()) - 1);
  for (int32_t i = 0; i <= last; ++i) {
    const TKzCamFormat& row = Table[static_cast<size_t>(i)];
    if (!Types.Empty() && (Types.Bits() & row.Device.Bits()) == 0) continue;
    List.push_back(PrepareURL(*this, row.URL));
  }
}

std::string TKzCamera::CheckURLs(std::vector<std::string>& List, TKzCameraTypes Types, TKzVideoFormat Format) {
  List.clear();
  if (Format == TKzVideoFormat::kzvfMJPEG)
    FillCamURLs(List, CamAnyMJPEG, static_cast<int32_t>(CamAnyMJPEG.size()) - 1, Types);
  else
    FillCamURLs(List, CamAnyH264, static_cast<int32_t>(CamAnyH264.size()) - 1, Types);
  for (const std::string& url : List) {
    if (IsAborting() || Application().Terminated()) break;
    const bool ok = KzLowerCase(url).find("http://") == std::string::npos
                        ? CheckRTSP_URL(FAgent, url, FUserName, FUserPassword, FSearchRTSPTimeOut, FRTSPPort)
                        : CheckConnectMJPEG(url, 8000, false);
    if (ok) return url;
  }
  return "";
}

bool KzIsMJPEGReply(const uint8_t* Data, size_t Size) {
  if (!Data || Size == 0) return false;
  const size_t textEnd = static_cast<size_t>(std::find(Data, Data + Size, 0) - Data);
  const std::string text = KzLowerCase(std::string(reinterpret_cast<const char*>(Data), textEnd));
  if (text.find("404 not found") != std::string::npos || text.find("404 file not found") != std::string::npos)
    return false;
  if (text.find("image/jpeg") != std::string::npos) return true;
  for (size_t i = 0; i + 1 < Size; ++i)
    if (Data[i] == 0xFF && (Data[i + 1] == 0xD8 || Data[i + 1] == 0xD9)) return true;
  return false;
}

bool TKzCamera::CheckConnectMJPEG(const std::string& URL, uint32_t TimeOut, bool UseTimeOut) {
  if (AreCommandsLocked() || IsAborting() || Application().Terminated()) return false;
  TKzCamRequestSettings settings = KzCamRequestSettings(*this);
  settings.TimeOut = FMJPEGTimeOut;
  std::atomic<bool> abort{false};
  return KzCamCheckMJPEG(URL, settings, abort, UseTimeOut ? TimeOut : 0);
}

}  // namespace kz
