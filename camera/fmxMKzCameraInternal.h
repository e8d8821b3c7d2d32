// Helpers shared by the camera's units; not for callers of the camera.
#pragma once
#include <algorithm>
#include <cctype>
#include <string>

#include "foundation/fmxMKzTypesThreads.h"
#include "platform/fmxMKzPlatformMainThread.h"

namespace kz::camera_detail {

inline std::string LowerCase(std::string S) {
  std::transform(S.begin(), S.end(), S.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return S;
}

inline bool IsRTSPURL(const std::string& URL) { return LowerCase(URL.substr(0, 7)) == "rtsp://"; }

// Waits, running main-thread work, until a self-freeing thread's end
// notification has cleared Ref.
template <typename T>
void WaitRefCleared(T*& Ref) {
  while (KzLoadThreadRef(Ref)) KzMWait(500);
}

}  // namespace kz::camera_detail
