// The FFmpeg engine behind the camera's engine interface: a fetch thread
// hands the whole stream (RTSP, HTTP the built-in reader does not take,
// video files) to a TKzMFFMPEG and gets finished pictures back.
#pragma once
#include "camera/fmxMKzCamEngine.h"
#include "ffmpeg/fmxMKzFFmpeg.h"

namespace kz {

class TKzCamFFmpegEngine : public IKzCamFFmpegEngine {
public:
  explicit TKzCamFFmpegEngine(void* Owner);
  void AssignSettings(const TKzCamEngineSettings& Settings) override;
  void PlayVideo(const std::string& URL) override;
  int32_t ResultCode() const override;
  void SetResultCode(int32_t Code) override { FEngine.SetErr(Code); }
  void Abort() override { FEngine.Abort(); }
  void ChangeRemuxing(bool Active, const std::string& FileName) override { FEngine.ChangeRemuxing(Active, FileName); }
  TKzSourceError SourceError() const override { return FEngine.SourceError(); }

  // The engine's connection options for a camera's settings. Any thread.
  static TKzFFmpegOptions OptionsOf(const TKzCamEngineSettings& Settings);

private:
  TKzMFFMPEG FEngine;
};

}  // namespace kz
