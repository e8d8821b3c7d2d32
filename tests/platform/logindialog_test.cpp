// The log-on form shown modally, driven by queued input as a user would.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/fmxMKzPlatformLoginDialog.h"
#include "platform/fmxMKzPlatformMainThread.h"
#include "platform/fmxMKzPlatformUTF8.h"
#include "platform/fmxMKzPlatformWindowHost.h"

using namespace kz;

namespace {

// A headless host that remembers the last form it opened a window for.
class TRecordingHost : public IKzWindowHost {
public:
  class TWindow : public IKzWindow {
  public:
    void SetCaption(const std::string& C) override { Caption = C; }
    void SetBounds(const TRect&) override {}
    void SetState(uint8_t, TPoint) override {}
    void SetBorderless(bool) override {}
    void SetStayOnTop(bool) override {}
    void SetCursor(TCursor) override {}
    void Present(const TKzPixelSurface&, const TRect&) override {}
    TPoint ScreenOrigin() const override { return {}; }
    std::string Caption;
  };
  std::unique_ptr<IKzWindow> CreateWindow(TForm& Form) override {
    Last = dynamic_cast<TfrmKzLogin*>(&Form);
    auto w = std::make_unique<TWindow>();
    LastWindow = w.get();
    return w;
  }
  bool IsInteractive() const override { return false; }
  TfrmKzLogin* Last = nullptr;
  TWindow* LastWindow = nullptr;
};

class LoginDialog : public ::testing::Test {
protected:
  void SetUp() override { KzSetWindowHost(&FHost); }
  void TearDown() override { KzSetWindowHost(nullptr); }

  // Queues the steps; they run inside the form's modal loop.
  void Script(std::vector<std::function<void(TfrmKzLogin&)>> Steps) {
    for (auto& step : Steps)
      QueueOnMainThread([this, step] {
        if (FHost.Last) step(*FHost.Last);
      });
  }
  static std::function<void(TfrmKzLogin&)> Type(const std::string& Text) {
    return [Text](TfrmKzLogin& F) {
      for (size_t i = 0; i < Text.size();) F.HostKeyDown(0, KzNextCodePoint(Text, i), 0);
    };
  }
  static std::function<void(TfrmKzLogin&)> Key(uint16_t K, TShiftState S = 0) {
    return [K, S](TfrmKzLogin& F) { F.HostKeyDown(K, 0, S); };
  }
  static std::function<void(TfrmKzLogin&)> Click(TControl* (TfrmKzLogin::*Part)() const) {
    return [Part](TfrmKzLogin& F) {
      const TRect r = (F.*Part)()->AbsoluteRect();
      const float x = (r.Left + r.Right) / 2.0f, y = (r.Top + r.Bottom) / 2.0f;
      F.HostMouseMove(0, x, y);
      F.HostMouseDown(TMouseButton::mbLeft, ssLeft, x, y, false);
      F.HostMouseUp(TMouseButton::mbLeft, 0, x, y);
    };
  }
  TRecordingHost FHost;
};

}  // namespace

TEST_F(LoginDialog, ModalFormReturnsWhatWasTypedOrCancels) {
  struct TCase {
    const char* Name;
    std::string User, Pass;  // filled in before
    std::vector<std::function<void(TfrmKzLogin&)>> Steps;
    bool Ok;
    std::string WantUser, WantPass;
  };
  const std::vector<TCase> cases = {
      {"keys", "", "", {Type("bob"), Key(vk::Tab), Type("s\xC3\xA9"), Key(vk::Return)}, true, "bob",
       "s\xC3\xA9"},
      {"backspace over a two-byte character; a known user starts in the password", "adm", "old",
       {Key(vk::Back), Type("x"), Key(vk::Tab, ssShift), Key(vk::Back), Key(vk::Back), Key(vk::Back),
        Key(vk::Back), Type("\xC3\xA9"), Key(vk::Back), Type("n"), Key(vk::Return)},
       true, "n", "olx"},
      {"escape", "keep", "this", {Type("zzz"), Key(vk::Escape)}, false, "keep", "this"},
      {"mouse", "", "", {Type("u"), Click(&TfrmKzLogin::PasswordEdit), Type("pw"), Click(&TfrmKzLogin::OkButton)},
       true, "u", "pw"},
      {"cancel button", "", "", {Type("u"), Click(&TfrmKzLogin::CancelButton)}, false, "", ""},
      {"window closed", "a", "b", {[](TfrmKzLogin& F) { F.HostClose(); }}, false, "a", "b"},
  };
  TKzLoginDialogProvider provider;
  for (const TCase& c : cases) {
    FHost.Last = nullptr;
    Script(c.Steps);
    TKzLoginFormData data;
    data.Caption = "kzcamsim";
    data.UserName = c.User;
    data.Password = c.Pass;
    EXPECT_EQ(provider.ShowLoginForm(data), c.Ok) << c.Name;
    EXPECT_EQ(data.UserName, c.WantUser) << c.Name;
    EXPECT_EQ(data.Password, c.WantPass) << c.Name;
    EXPECT_EQ(FHost.LastWindow ? "" : "no window", std::string()) << c.Name;
  }
}

TEST_F(LoginDialog, ShowsRealmAndBulletsAndPaints) {
  TKzLoginDialogProvider provider;
  std::string caption, shown;
  bool painted = false;
  Script({Type("ab\xE4\xB8\xAD"), [&](TfrmKzLogin& F) {
            caption = FHost.LastWindow->Caption;
            shown = F.PasswordShown();
            F.PaintPending();
            // Something other than the background colour was drawn.
            const TKzPixelSurface& s = F.Surface();
            for (int y = 0; y < s.Height && !painted; ++y)
              for (int x = 0; x < s.Width && !painted; ++x) painted = s.Row(y)[x] != F.Fill() && s.Row(y)[x] != 0xFFFFFFFFu;
          },
          Key(vk::Return)});
  TKzLoginFormData data;
  data.Caption = "Camera realm";
  data.UserName = "admin";  // a known user: the password field takes the keys
  data.Language = 6;
  ASSERT_TRUE(provider.ShowLoginForm(data));
  EXPECT_EQ(data.Password, "ab\xE4\xB8\xAD");
  EXPECT_EQ(caption, "Camera realm");
  EXPECT_EQ(shown, "\xE2\x80\xA2\xE2\x80\xA2\xE2\x80\xA2");
  EXPECT_TRUE(painted);
}

TEST(LoginTexts, AnUnknownLanguageGetsTheEnglishLabels) {
  EXPECT_STREQ(KzLoginTexts(200).UserName, KzLoginTexts(0).UserName);
}
