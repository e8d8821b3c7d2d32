// kz-test-labels: peer
// Desktop capture under Xvfb against ImageMagick's and the X tools' view of
// the same screen: the screen size, the whole screen, a rectangle, a window
// (also after it moved, and when it closes), zoom, and no display at all.
#include <regex>

#ifdef KZ_HAVE_X11
// The four Xlib calls the test makes itself (<X11/Xlib.h> would bring its
// macros into the test's code).
extern "C" {
struct _XDisplay;
_XDisplay* XOpenDisplay(const char*);
int XMoveWindow(_XDisplay*, unsigned long, int, int);
int XSync(_XDisplay*, int);
int XCloseDisplay(_XDisplay*);
}
#endif

#include "capture/fmxMKzDesktop.h"
#include "tests/capture/kzcapturetest.h"
#include "tests/kztestneed.h"
#include "tests/kzxvfb.h"

using namespace kz;
using namespace kztest;

namespace {

// One frame of a desktop set up by Setup; an empty bitmap when none came.
TKzMBitmap Frame(const std::function<void(TKzDesktop&)>& Setup) {
  TRecordingOwner owner;
  TKzDesktop desktop(&owner);
  desktop.SetFramePerSec(50);
  Setup(desktop);
  desktop.PlayVideoStream();
  WaitUntil([&] { return owner.FrameCount() >= 2 || owner.Has("done"); });
  desktop.Stop();
  WaitUntil([&] { return owner.Has("done"); });
  return owner.FrameCount() >= 2 ? owner.LastFrame() : TKzMBitmap();
}

// The RGB bytes of a bitmap, as import writes them.
std::string Rgb(const TKzMBitmap& B) {
  std::string s;
  for (int64_t i = 0; i < B.GetLength(); ++i) {
    const uint32_t p = B.Data()[i];
    s += char(p >> 16), s += char(p >> 8), s += char(p);
  }
  return s;
}

std::string Import(const TXvfb& X, const std::string& Window, const TTempDir& Dir) {
  const std::string file = Dir / "import.rgb";
  RunOutput("timeout 20 import -display " + X.Display + " -window " + Window + " -depth 8 rgb:" + file);
  return ReadFile(file);
}

std::string WindowId(const std::string& Name) {
  std::smatch m;
  const std::string info = RunOutput("xwininfo -name " + Name);
  return std::regex_search(info, m, std::regex("Window id: (0x[0-9a-f]+)")) ? m[1].str() : "";
}

std::string Crop(const std::vector<uint8_t>& Shot, int ShotW, int X, int Y, int W, int H) {
  std::string s;
  for (int y = Y; y < Y + H; ++y) s.append(reinterpret_cast<const char*>(&Shot[(size_t(y) * ShotW + X) * 3]), size_t(W) * 3);
  return s;
}

}  // namespace

TEST(CaptureDesktop, MatchesTheXTools) {
  KZ_NEED(HaveProgram("display") && HaveProgram("import") && HaveProgram("xlogo") && HaveProgram("xwininfo") &&
              HaveProgram("xdpyinfo") && HaveProgram("ffmpeg"),
          "ImageMagick, xlogo, xwininfo, xdpyinfo and ffmpeg are needed");
  TXvfb x(640, 480);
  KZ_NEED(x.Why().empty(), x.Why());
  TTempDir dir;

  TKzX11Screen screen;
  ASSERT_TRUE(screen.Connected()) << screen.Error();
  EXPECT_NE(RunOutput("xdpyinfo").find("dimensions:    " + std::to_string(screen.Width()) + "x" +
                                 std::to_string(screen.Height()) + " pixels"),
            std::string::npos);
  EXPECT_TRUE(screen.UsesShm());

  // A smooth picture shown by ImageMagick, and an xlogo window.
  Ffmpeg("-f lavfi -i testsrc2=size=240x160:rate=1 -frames:v 1 -vf gblur=sigma=6", dir / "pic.png");
  TPeer picture, logo;
  ASSERT_TRUE(picture.Start({"display", "-title", "kzpic", "-geometry", "+40+30", dir / "pic.png"}, dir / "display.log"));
  ASSERT_TRUE(logo.Start({"xlogo", "-geometry", "120x100+400+300"}, dir / "xlogo.log"));
  ASSERT_TRUE(WaitUntil([&] { return !WindowId("kzpic").empty() && !WindowId("xlogo").empty(); }))
      << RunOutput("xwininfo -root -tree") << ReadFile(dir / "display.log") << ReadFile(dir / "xlogo.log");
  ASSERT_TRUE(WaitUntil([&] {  // drawn
    const std::vector<uint8_t> s = x.Screenshot();
    return !s.empty() && x.Pixel(s, 160, 110) != 0 && x.Pixel(s, 405, 305) != 0;
  }));
  const std::vector<uint8_t> shot = x.Screenshot();

  const TKzMBitmap full = Frame([](TKzDesktop&) {});
  ASSERT_EQ(full.Width(), 640);
  EXPECT_TRUE(Rgb(full) == std::string(shot.begin(), shot.end()));

  const TKzMBitmap rect = Frame([](TKzDesktop& d) {
    d.SetDesktopMode(TKzDesktopMode::kzdmRect);
    d.SetDesktopRect({10, 20, 200, 100});
  });
  EXPECT_TRUE(Rgb(rect) == Crop(shot, 640, 10, 20, 200, 100));

  const std::string logoId = WindowId("xlogo");
  auto window = [&] {
    return Frame([&](TKzDesktop& d) {
      d.SetDesktopMode(TKzDesktopMode::kzdmWindow);
      d.SetDesktopWindow(std::stoull(logoId, nullptr, 16));
    });
  };
  TKzMBitmap w = window();
  ASSERT_EQ(w.Width(), 120);
  EXPECT_TRUE(Rgb(w) == Import(x, logoId, dir));
#ifdef KZ_HAVE_X11
  {  // No window manager here: the test moves the window itself.
    _XDisplay* dpy = XOpenDisplay(nullptr);
    ASSERT_NE(dpy, nullptr);
    XMoveWindow(dpy, std::stoul(logoId, nullptr, 16), 100, 250);
    XSync(dpy, 0);
    XCloseDisplay(dpy);
  }
  ASSERT_TRUE(WaitUntil([&] { return RunOutput("xwininfo -id " + logoId).find("Absolute upper-left X:  100") != std::string::npos; }));
  ASSERT_TRUE(WaitUntil([&] {  // redrawn at its new place
    const std::vector<uint8_t> s = x.Screenshot();
    return !s.empty() && x.Pixel(s, 105, 255) != 0;
  }));
  w = window();
  EXPECT_TRUE(Rgb(w) == Import(x, logoId, dir));
  EXPECT_TRUE(Rgb(w) == Crop(x.Screenshot(), 640, 101, 251, 120, 100));  // inside its 1-pixel border
#endif

  // Zoom 50 % of the picture against ImageMagick's -resize 50%.
  const TKzMBitmap half = Frame([](TKzDesktop& d) {
    d.SetDesktopMode(TKzDesktopMode::kzdmRect);
    d.SetDesktopRect({60, 50, 200, 120});
    d.SetZoomPercent(50);
  });
  ASSERT_EQ(half.Width(), 100);
  ASSERT_EQ(half.Height(), 60);
  WriteFile(dir / "crop.rgb", Crop(shot, 640, 60, 50, 200, 120));
  RunOutput("convert -size 200x120 -depth 8 rgb:" + std::string(dir / "crop.rgb") + " -resize 50% rgb:" +
      std::string(dir / "half.rgb"));
  const std::string ref = ReadFile(dir / "half.rgb"), ours = Rgb(half);
  ASSERT_EQ(ref.size(), ours.size());
  int worst = 0;
  for (size_t i = 0; i < ref.size(); ++i) worst = std::max(worst, std::abs(int(uint8_t(ref[i])) - int(uint8_t(ours[i]))));
  EXPECT_LE(worst, 3);

  // A window that closes ends the stream with Status 1.
  TRecordingOwner owner;
  TKzDesktop desktop(&owner);
  desktop.SetFramePerSec(50);
  desktop.SetDesktopMode(TKzDesktopMode::kzdmWindow);
  desktop.SetDesktopWindow(std::stoull(logoId, nullptr, 16));
  desktop.PlayVideoStream();
  ASSERT_TRUE(WaitUntil([&] { return owner.FrameCount() >= 1; }));
  logo.Kill();
  ASSERT_TRUE(WaitUntil([&] { return owner.Has("done"); }));
  EXPECT_TRUE(owner.Has("done 1"));
  EXPECT_TRUE(owner.Has("debug Desktop: the window"));
}

TEST(CaptureDesktop, WithoutADisplayEndsWithStatus1) {
  TRecordingOwner owner;
  TKzDesktop desktop(&owner);
  desktop.SetDisplayName(":4242");
  desktop.PlayVideoStream();
  ASSERT_TRUE(WaitUntil([&] { return owner.Has("done"); }));
  EXPECT_TRUE(owner.Has("done 1"));
  EXPECT_TRUE(owner.Has("debug Desktop: cannot open the X display :4242"));
  EXPECT_FALSE(desktop.IsVideoPlaying());
}
