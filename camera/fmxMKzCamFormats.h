// The built-in tables of stream URL templates collected from many camera
// models: one for Motion-JPEG streams, one for H.264 streams. Each row names
// the vendor families it belongs to; the row order is the probing order.
//
// Templates carry placeholders that PrepareURL (fmxMKzCamera) replaces:
// IPADDRESS, [WIDTH], [HEIGHT], [CHANNEL], [FPS], [USERNAME], [PASSWORD]
// ([AUTH] is sent as it stands). The tables are constant data: any thread.
#pragma once
#include <array>
#include <cstddef>

#include "camera/fmxMKzCameraTypes.h"

namespace kz {

// One row of a URL template table.
struct TKzCamFormat {
  TKzCameraTypes Device;    // vendor families the row applies to
  const char* Model;        // model names, separated by ", "
  const char* VideoFormat;  // "MJPEG"; or "FFMPEG" / "VLC" for H.264 rows
  const char* URL;          // the template
};

constexpr size_t KzCamAnyMJPEGCount = 68;
constexpr size_t KzCamAnyH264Count = 75;

extern const std::array<TKzCamFormat, KzCamAnyMJPEGCount> CamAnyMJPEG;
extern const std::array<TKzCamFormat, KzCamAnyH264Count> CamAnyH264;

}  // namespace kz
