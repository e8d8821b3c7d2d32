#include "platform/fmxMKzPlatformWindowHost.h"

#include "platform/fmxMKzPlatformControl.h"
#include "platform/fmxMKzPlatformReplaceable.h"

namespace kz {

namespace {

// A window nobody sees: the form keeps its pixels in its surface, where
// tests and snapshot writers read them.
class THeadlessWindow : public IKzWindow {
public:
  void SetCaption(const std::string&) override {}
  void SetBounds(const TRect& Rect) override { FOrigin = TPoint{Rect.Left, Rect.Top}; }
  void SetState(uint8_t, TPoint) override {}
  void SetBorderless(bool) override {}
  void SetStayOnTop(bool) override {}
  void SetCursor(TCursor) override {}
  void Present(const TKzPixelSurface&, const TRect&) override {}
  TPoint ScreenOrigin() const override { return FOrigin; }

private:
  TPoint FOrigin;
};

class THeadlessWindowHost : public IKzWindowHost {
public:
  std::unique_ptr<IKzWindow> CreateWindow(TForm&) override { return std::make_unique<THeadlessWindow>(); }
  bool IsInteractive() const override { return false; }
};

THeadlessWindowHost gHeadlessHost;
TKzReplaceable<IKzWindowHost> gHost(gHeadlessHost);

}  // namespace

IKzWindowHost& KzWindowHost() { return gHost.Current(); }

IKzWindowHost* KzSetWindowHost(IKzWindowHost* Host) { return gHost.Install(Host); }

}  // namespace kz
