// Desktop windows through SDL2 on a virtual X display: what a form paints
// reaches the screen, window events reach the form, and the main loop keeps
// serving queued work and timers while it waits for window events.
// kz-test-labels: peer
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <thread>

#include "tests/kztestneed.h"
#include "platform/fmxMKzPlatformControl.h"
#include "platform/fmxMKzPlatformMainThread.h"
#include "platform/fmxMKzPlatformSdlWindowHost.h"
#include "platform/fmxMKzPlatformTimer.h"
#include "tests/kzxvfb.h"

#ifdef KZ_HAVE_SDL2
#define SDL_MAIN_HANDLED
#include <SDL2/SDL.h>
#endif

using namespace kz;

// SDL's D-Bus connection and the display libraries it loads and unloads keep
// small allocations that the leak checker cannot attribute (their code is
// gone by exit), so this one program runs without it; the controls' own
// tests keep it.
extern "C" const char* __asan_default_options() { return "detect_leaks=0"; }

namespace {

class TLogControl : public TControl {
public:
  TLogControl(TComponent* Owner, std::vector<std::string>* Log) : TControl(Owner), FLog(Log) {}
  void Paint(TCanvas& C) override { C.FillRect(LocalRect(), 0xFFFF0000u); }
  void DoMouseEnter() override { FLog->push_back("enter"); }
  void DblClick() override { FLog->push_back("dbl"); }
  void KeyDown(uint16_t& Key, char32_t& KeyChar, TShiftState Shift) override {
    FLog->push_back("key " + std::to_string(Key) + "/" + std::to_string(uint32_t(KeyChar)) + "/" +
                    std::to_string(Shift));
  }

private:
  std::vector<std::string>* FLog;
};

class SdlHost : public ::testing::Test {
protected:
  void SetUp() override {
    KZ_NEED(FX.Why().empty(), FX.Why());
    FHost = KzCreateSdlWindowHost();
    KZ_NEED(FHost, "no desktop window host in this build");
    KzSetWindowHost(FHost.get());
  }
  void TearDown() override {
    KzSetWindowHost(nullptr);
    FHost.reset();
  }
  kztest::TXvfb FX{800, 600};
  std::unique_ptr<IKzWindowHost> FHost;
};

#ifdef KZ_HAVE_SDL2
uint32_t WindowIdOf(const std::string& Title) {
  for (uint32_t id = 1; id < 64; ++id)
    if (SDL_Window* w = SDL_GetWindowFromID(id); w && Title == SDL_GetWindowTitle(w)) return id;
  return 0;
}
#endif

}  // namespace

TEST_F(SdlHost, FormPixelsReachTheScreenAndEventsReachTheForm) {
  std::vector<std::string> log;
  TForm form(nullptr);
  form.SetCaption("kz sdl test");
  form.SetBorderStyle(TFormBorderStyle::bsNone);
  form.SetBounds(0, 0, 200, 100);
  form.SetFill(0xFF0000FFu);
  auto* child = new TLogControl(&form, &log);
  child->SetParent(&form);
  child->SetBounds(50, 20, 30, 30);
  child->SetCanFocus(true);
  form.Show();
  EXPECT_TRUE(KzWindowHost().IsInteractive());

  // The screen shows what the form painted.
  std::vector<uint8_t> shot;
  ASSERT_TRUE(PumpUntil(
      [&] {
        shot = FX.Screenshot();
        return !shot.empty() && FX.Pixel(shot, 10, 10) == 0x0000FFu && FX.Pixel(shot, 60, 30) == 0xFF0000u;
      },
      15000))
      << (shot.empty() ? std::string("no screenshot") : std::to_string(FX.Pixel(shot, 10, 10)));
  EXPECT_NE(FX.Pixel(shot, 250, 150), 0x0000FFu);  // outside the window

#ifdef KZ_HAVE_SDL2
  const uint32_t id = WindowIdOf("kz sdl test");
  ASSERT_NE(id, 0u);
  // Events as the display would deliver them.
  const auto push = [&](uint32_t Type, const std::function<void(SDL_Event&)>& Fill) {
    SDL_Event e;
    std::memset(&e, 0, sizeof e);
    e.type = Type;
    Fill(e);
    SDL_PushEvent(&e);
  };
  push(SDL_MOUSEMOTION, [&](SDL_Event& e) { e.motion.windowID = id, e.motion.x = 60, e.motion.y = 30; });
  push(SDL_MOUSEBUTTONDOWN, [&](SDL_Event& e) {
    e.button.windowID = id, e.button.button = SDL_BUTTON_LEFT, e.button.clicks = 2, e.button.x = 60, e.button.y = 30;
  });
  push(SDL_KEYDOWN, [&](SDL_Event& e) { e.key.windowID = id, e.key.keysym.sym = SDLK_LEFT, e.key.keysym.mod = KMOD_LSHIFT; });
  push(SDL_TEXTINPUT, [&](SDL_Event& e) {
    e.text.windowID = id;
    std::strcpy(e.text.text, "a\xC3\xA9");  // "a", "é"
  });
  const std::vector<std::string> want = {"enter", "dbl", "key 37/0/1", "key 0/97/0", "key 0/233/0"};
  EXPECT_TRUE(PumpUntil([&] { return log.size() >= want.size(); }, 5000));
  EXPECT_EQ(log, want);

  bool closed = false;
  form.OnClose = [&](TComponent*) { closed = true; };
  push(SDL_WINDOWEVENT, [&](SDL_Event& e) { e.window.windowID = id, e.window.event = SDL_WINDOWEVENT_CLOSE; });
  EXPECT_TRUE(PumpUntil([&] { return closed; }, 5000));
  EXPECT_FALSE(form.Showing());
#endif
}

TEST_F(SdlHost, FullScreenTakesTheDisplay) {
  TForm form(nullptr);
  form.SetBounds(10, 10, 100, 80);
  form.SetFill(0xFF00FF00u);
  form.Show();
  form.SetWindowState(TWindowState::wsFullScreen);
  EXPECT_TRUE(PumpUntil([&] { return form.Width() == 800 && form.Height() == 600; }, 5000))
      << form.Width() << "x" << form.Height();
  EXPECT_EQ(form.Surface().Width, form.Width());
  // The far right of the display shows the form. (Without a window
  // manager the X window keeps its height; only the width is checked.)
  std::vector<uint8_t> shot;
  EXPECT_TRUE(PumpUntil(
      [&] {
        shot = FX.Screenshot();
        return !shot.empty() && FX.Pixel(shot, 790, 10) == 0x00FF00u;
      },
      15000));
}

TEST_F(SdlHost, QueuedWorkAndTimersRunWhileTheLoopWaitsForWindowEvents) {
  TForm form(nullptr);
  form.Show();
  // A worker's hand-over ends the wait at once, not after its time-out.
  std::atomic<bool> ran{false};
  std::thread worker([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    QueueOnMainThread([&] { ran = true; });
  });
  const auto t0 = std::chrono::steady_clock::now();
  bool pending = false;
  for (int i = 0; i < 10 && !pending; ++i) pending = WaitForMainThreadWork(30000);
  const auto waited = std::chrono::steady_clock::now() - t0;
  worker.join();
  EXPECT_TRUE(pending);
  EXPECT_LT(waited, std::chrono::seconds(15));  // woken by the work, not the time-out
  CheckSynchronize();
  EXPECT_TRUE(ran);

  // Timers fire from the application loop (their rate is not checked here).
  TTimer timer;
  int ticks = 0;
  timer.SetInterval(30);
  timer.OnTimer = [&](TTimer*) {
    if (++ticks == 5) Application().Terminate();
  };
  timer.SetEnabled(true);
  const auto t1 = std::chrono::steady_clock::now();
  Application().Run();
  Application().ResetTerminated();
  EXPECT_EQ(ticks, 5);
  EXPECT_LT(std::chrono::steady_clock::now() - t1, std::chrono::seconds(30));
}
