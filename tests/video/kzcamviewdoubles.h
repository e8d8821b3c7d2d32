// Test doubles of the sources a camera view shows: a movable camera that
// records every request, a plain video source, and frames of one colour. Deliver hands a frame
// to the registered views the way a draw thread does.
#pragma once
#include <algorithm>
#include <string>
#include <vector>

#include "video/fmxMKzCamView.h"
#include "video/fmxMKzCamViewSource.h"
#include "video/fmxMKzVideoSource.h"

namespace kztest {

using namespace kz;

// A camera as the view sees it: every request is recorded; stops report
// that a command was sent.
class TFakeCamera : public TKzVideoSource, public IKzCamViewSource {
public:
  // Hands Frame to every registered view not in full-screen mode.
  void Deliver(const TKzMBitmap& Frame) {
    LockConsumers();
    for (IKzCamViewConsumer* v : Consumers().CamViews)
      if (!v->IsFullScreenMode()) v->ViewerGetImageBMP(this, Frame, true, 0, TGUID{});
    UnlockConsumers();
  }

  TFakeCamera() : TKzVideoSource(nullptr) {}
  ~TFakeCamera() override { Destroying(); }
  void Abort() override { ++Aborts; }

  TKzDeviceType DeviceType() const override { return Kind; }
  const std::string& URL() const override { return Url; }
  const std::string& CameraHost() const override { return Host; }
  uint16_t CameraPort() const override { return Port; }
  const std::string& SourceFileName() const override { return SourceFile; }
  const std::string& PlayingFileName() const override { return PlayingFile; }
  const std::string& Alias() const override { return AliasName; }
  bool IsVideoPlaying() const override { return Playing; }
  bool IsFilePlaying() const override { return FilePlaying; }
  bool Searching() const override { return IsSearching; }
  TKzCamMethods GetAccessibleCamMethods() const override { return Methods; }

// Every movement command is recorded by its name.
#define KZ_RECORD_MOVE(Name) \
  bool Move##Name() override { return Cmd(#Name); }
  KZ_RECORD_MOVE(Left) KZ_RECORD_MOVE(Right) KZ_RECORD_MOVE(Up) KZ_RECORD_MOVE(Down) KZ_RECORD_MOVE(LeftUp)
  KZ_RECORD_MOVE(LeftDown) KZ_RECORD_MOVE(RightUp) KZ_RECORD_MOVE(RightDown) KZ_RECORD_MOVE(Center)
  KZ_RECORD_MOVE(LeftStop) KZ_RECORD_MOVE(RightStop) KZ_RECORD_MOVE(UpStop) KZ_RECORD_MOVE(DownStop)
#undef KZ_RECORD_MOVE

  TKzDeviceType Kind = TKzDeviceType::kzdtIPCamera;
  std::string Url, Host, SourceFile, PlayingFile, AliasName;
  uint16_t Port = 0;
  bool Playing = true, FilePlaying = false, IsSearching = false;
  TKzCamMethods Methods{TKzCamMethod::kzcm_VideoStream, TKzCamMethod::kzcm_Move};
  std::vector<std::string> Commands;
  int Aborts = 0;

private:
  bool Cmd(const char* Name) {
    Commands.emplace_back(Name);
    return true;
  }
};

// A frame of one colour.
inline TKzMBitmap Solid(int W, int H, uint32_t Colour) {
  TKzMBitmap b(W, H);
  std::fill(b.Data(), b.Data() + b.GetLength(), Colour);
  return b;
}

// A video source that is not a camera.
class TPlainSource : public TKzVideoSource {
public:
  TPlainSource() : TKzVideoSource(nullptr) {}
  void Abort() override {}
};

}  // namespace kztest
