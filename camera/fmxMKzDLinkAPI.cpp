// D-Link cameras and the RTSP-only Trendnet row.
#include "camera/fmxMKzCamVendorReplies.h"
#include "camera/fmxMKzCamVendors.h"
#include "camera/fmxMKzCamera.h"
#include "inet/fmxMKzURLFuncs.h"

namespace kz {

namespace {
using F = TKzCamField;
using G = TKzCamPropertyGroup;
using P = TKzCamProperty;
using M = TKzCamMethod;

bool HasModel(const std::string& Reply) { return LINE_HasValue(Reply, "Model"); }

// Motion-JPEG and snapshot paths per model list 1..6.
struct TPaths {
  const char* Stream;
  const char* Snapshot;
};
const TPaths kPaths[] = {{"video/mjpg.cgi", "image/jpeg.cgi"},
                         {"mjpeg.cgi", "image.jpg"},
                         {"video.mjpg", "cgi-bin/viewer/video.jpg"},
                         {"video.cgi", "video.jpg?resolution=640x480"},
                         {"cgi-bin/video.jpg", "cgi-bin/video.jpg"},
                         {"cgi-bin/video.cgi?cam=1&quality=5&size=5", "cgi-bin/video.jpg?cam=1&quality=1&size=1"}};

TKzVendorTables MakeTables() {
  TKzVendorTables t;
  t.Dialect = {TKzReplyForm::kzrfLines, &KzVendorPathURL, &HasModel, &KzVendorAnyReply};
  t.Groups = {{G::kzcpParameters,
               {{"isystem.cgi", "", {{"Model", F::kzfID}, {"FirmwareVersion", F::kzfVersion},
                                     {"CameraName", F::kzfAlias}}}},
               {}}};
  t.Properties = {{G::kzcpParameters, TKzCamProperties{P::kzcp_dmID, P::kzcp_dmVersion, P::kzcp_dmAlias}}};
  t.Methods = {{G::kzcpNone, TKzCamMethods{M::kzcm_VideoStream, M::kzcm_SnapShot}}};
  t.SingleProperties = {{P::kzcp_dmAlias, "system.cgi", "CameraName="}};
  return t;
}
}  // namespace

TKzDLinkAPI::TKzDLinkAPI() : TKzTableVendor(MakeTables()) {}

std::string TKzDLinkAPI::StreamPath(int32_t ModelIndex) {
  return ModelIndex >= 1 && ModelIndex <= 6 ? kPaths[ModelIndex - 1].Stream : "";
}
std::string TKzDLinkAPI::SnapshotPath(int32_t ModelIndex) {
  return ModelIndex >= 1 && ModelIndex <= 6 ? kPaths[ModelIndex - 1].Snapshot : "";
}

std::string TKzDLinkAPI::GetMJpegURL(TKzCamera& Camera) const {
  const std::string path = StreamPath(Camera.DLinkModelIndex());
  return path.empty() ? "" : KzVendorPathURL(Camera, path, "");
}

std::string TKzDLinkAPI::GetH264URL(TKzCamera& Camera) const { return KzVendorRTSPURL(Camera, "/live1.sdp"); }

std::string TKzTrendnetAPI::GetH264URL(TKzCamera& Camera) const {
  return KzVendorRTSPURL(Camera, "/Streaming/Channels/" + std::to_string(Camera.CameraChannel()));
}

}  // namespace kz
