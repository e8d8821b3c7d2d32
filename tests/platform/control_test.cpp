// Controls and forms on the headless host: tree, painting, input routing,
// focus and alignment (the modal loop: logindialog_test).
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/fmxMKzPlatformControl.h"
#include "platform/fmxMKzPlatformMainThread.h"
#include "platform/fmxMKzPlatformWindowHost.h"

using namespace kz;

namespace {

// Records what reaches it, in one log shared by all probes of a test.
class TProbe : public TControl {
public:
  TProbe(TComponent* Owner, std::vector<std::string>* Log, std::string Name, TAlphaColor Color = 0)
      : TControl(Owner), FLog(Log), FTag(std::move(Name)), FColor(Color) {}
  ~TProbe() override { Destroying(); }
  void MouseDown(TMouseButton B, TShiftState S, float X, float Y) override {
    Add("down " + std::to_string(int(X)) + "," + std::to_string(int(Y)));
    TControl::MouseDown(B, S, X, Y);
  }
  void MouseMove(TShiftState, float X, float Y) override {
    Add("move " + std::to_string(int(X)) + "," + std::to_string(int(Y)));
  }
  void MouseUp(TMouseButton, TShiftState, float X, float Y) override {
    Add("up " + std::to_string(int(X)) + "," + std::to_string(int(Y)));
  }
  void DoMouseEnter() override { Add("enter"); }
  void DoMouseLeave() override { Add("leave"); }
  void DblClick() override { Add("dbl"); }
  void KeyDown(uint16_t& Key, char32_t& KeyChar, TShiftState) override {
    Add("key " + std::to_string(Key) + "/" + std::to_string(uint32_t(KeyChar)));
    if (Consume) Key = 0, KeyChar = 0;
  }
  void DoEnter() override { Add("focus"); }
  void DoExit() override { Add("blur"); }
  void Paint(TCanvas& C) override {
    ++Paints;
    if (FColor) C.FillRect(LocalRect(), FColor);
  }
  int Paints = 0;
  bool Consume = false;

private:
  void Add(const std::string& S) { FLog->push_back(FTag + " " + S); }
  std::vector<std::string>* FLog;
  std::string FTag;
  TAlphaColor FColor;
};

uint32_t PixelAt(const TForm& F, int X, int Y) { return F.Surface().Row(Y)[X]; }

// A form, and the log its probes write into.
class Control : public ::testing::Test {
protected:
  // A probe owned by the form, placed in Parent at X, Y with size W x H.
  TProbe* Put(TControl* Parent, const char* Name, int X, int Y, int W, int H, TAlphaColor Color = 0) {
    auto* p = new TProbe(&form, &log, Name, Color);
    p->SetParent(Parent);
    p->SetBounds(X, Y, W, H);
    return p;
  }
  std::vector<std::string> log;
  TForm form{nullptr};
};

}  // namespace

TEST_F(Control, PaintsTreeWithClipAndTranslationChildrenOverParent) {
  form.SetBounds(0, 0, 100, 80);
  form.SetFill(0xFF000000u);
  auto* a = Put(&form, "a", 10, 10, 50, 40, 0xFFFF0000u);
  Put(a, "b", 40, 30, 30, 30, 0xFF00FF00u);  // inside a, partly outside it
  auto* hidden = Put(&form, "h", 0, 0, 5, 5, 0xFF0000FFu);
  hidden->SetVisible(false);
  form.Show();
  form.PaintPending();
  struct {
    int X, Y;
    uint32_t Want;
  } cases[] = {
      {5, 5, 0xFF000000u},    // hidden control skipped
      {10, 10, 0xFFFF0000u},  // a at its offset
      {49, 39, 0xFFFF0000u},  // just before b
      {50, 40, 0xFF00FF00u},  // b translated by a + b
      {59, 49, 0xFF00FF00u},  // last pixel of b inside a
      {60, 49, 0xFF000000u},  // b clipped to a
      {55, 50, 0xFF000000u},
  };
  for (const auto& c : cases) EXPECT_EQ(PixelAt(form, c.X, c.Y), c.Want) << c.X << "," << c.Y;
  EXPECT_EQ(hidden->Paints, 0);
}

TEST_F(Control, RepaintsCoalesceIntoOnePaintOfTheUnion) {
  form.SetBounds(0, 0, 100, 100);
  auto* left = Put(&form, "l", 0, 0, 20, 20);
  auto* right = Put(&form, "r", 80, 80, 20, 20);
  form.Show();
  form.PaintPending();
  CheckSynchronize();
  left->Paints = right->Paints = 0;
  for (int i = 0; i < 100; ++i) left->Repaint();
  right->InvalidateRect(TRect(0, 0, 2, 2));
  EXPECT_EQ(PendingMainThreadWork(), 1u);
  EXPECT_EQ(left->Paints, 0);  // nothing paints before the main loop runs
  CheckSynchronize();
  EXPECT_EQ(left->Paints, 1);
  EXPECT_EQ(right->Paints, 1);
  CheckSynchronize();
  EXPECT_EQ(left->Paints, 1);
  // Outside a form, or hidden, nothing is queued.
  TProbe loose(nullptr, &log, "x");
  loose.Repaint();
  left->SetVisible(false);
  CheckSynchronize();
  left->Repaint();
  EXPECT_EQ(PendingMainThreadWork(), 0u);
}

TEST_F(Control, MouseRoutingCaptureAndEnterLeave) {
  form.SetBounds(0, 0, 200, 100);
  Put(&form, "a", 0, 0, 100, 100);
  auto* b = Put(&form, "b", 100, 0, 100, 100);
  auto* top = Put(&form, "t", 50, 50, 20, 20);  // overlaps a, added last: topmost
  form.Show();

  form.HostMouseMove(0, 10, 10);
  form.HostMouseMove(0, 55, 60);
  form.HostMouseDown(TMouseButton::mbLeft, ssLeft, 60, 60, false);
  form.HostMouseMove(ssLeft, 150, 20);  // dragged over b: still the top probe's
  EXPECT_TRUE(top->IsMouseOver());
  EXPECT_FALSE(b->IsMouseOver());
  form.HostMouseUp(TMouseButton::mbLeft, 0, 150, 20);  // released over b
  form.HostMouseLeave();
  const std::vector<std::string> want = {
      "a enter",     "a move 10,10", "a leave",  "t enter", "t move 5,10", "t down 10,10",
      "t move 100,-30", "t up 100,-30", "t leave", "b enter", "b leave",
  };
  EXPECT_EQ(log, want);

  log.clear();
  form.HostMouseDown(TMouseButton::mbLeft, ssLeft, 120, 5, true);
  form.HostMouseUp(TMouseButton::mbLeft, 0, 120, 5);
  EXPECT_EQ(log, (std::vector<std::string>{"b enter", "b down 20,5", "b dbl", "b up 20,5"}));
}

TEST_F(Control, KeysGoToTheFocusedControlThenTheForm) {
  std::vector<uint16_t> formKeys;
  form.OnKeyDown = [&](TComponent*, uint16_t& Key, char32_t&, TShiftState) { formKeys.push_back(Key); };
  auto* a = Put(&form, "a", 0, 0, 10, 10);
  auto* b = Put(&form, "b", 20, 0, 10, 10);
  form.Show();
  a->SetFocus();  // cannot take focus
  EXPECT_EQ(form.Focused(), nullptr);
  a->SetCanFocus(true);
  b->SetCanFocus(true);
  a->SetFocus();
  form.HostKeyDown(vk::Left, 0, 0);
  b->Consume = true;
  form.HostMouseDown(TMouseButton::mbLeft, 0, 25, 5, false);  // a click focuses
  form.HostMouseUp(TMouseButton::mbLeft, 0, 25, 5);
  EXPECT_TRUE(b->IsFocused());
  form.HostKeyDown(0, U'x', 0);
  EXPECT_EQ(formKeys, std::vector<uint16_t>{vk::Left});  // b consumed its key
  const std::vector<std::string> want = {"a focus", "a key 37/0", "b enter", "a blur", "b focus",
                                         "b down 5,5", "b up 5,5", "b key 0/120"};
  EXPECT_EQ(log, want);
}

TEST_F(Control, ClientAlignedChildrenFollowTheWindowSize) {
  form.SetBounds(0, 0, 300, 200);
  auto* outer = new TProbe(&form, &log, "o");
  outer->SetAlign(TAlignLayout::Client);
  outer->SetParent(&form);
  auto* inner = new TProbe(&form, &log, "i");
  inner->SetParent(outer);
  inner->SetAlign(TAlignLayout::Client);
  int resizes = 0;
  inner->OnResize = [&](TComponent*) { ++resizes; };
  EXPECT_EQ(inner->BoundsRect(), TRect(0, 0, 300, 200));
  form.Show();
  form.HostResize(640, 360);
  EXPECT_EQ(outer->BoundsRect(), TRect(0, 0, 640, 360));
  EXPECT_EQ(inner->BoundsRect(), TRect(0, 0, 640, 360));
  EXPECT_EQ(resizes, 1);
  EXPECT_EQ(form.Surface().Width, 640);
  EXPECT_EQ(form.Surface().Height, 360);
}

TEST_F(Control, FreedControlIsForgottenByItsForm) {
  form.SetBounds(0, 0, 100, 100);
  auto* parent = Put(&form, "p", 0, 0, 50, 50);
  auto* child = Put(parent, "c", 0, 0, 10, 10);
  child->SetCanFocus(true);
  form.Show();
  child->SetFocus();
  form.HostMouseMove(0, 5, 5);
  form.HostMouseDown(TMouseButton::mbLeft, 0, 5, 5, false);
  child->Repaint();
  delete child;  // focused, hovered, captured, with a paint queued
  EXPECT_EQ(form.Focused(), nullptr);
  EXPECT_TRUE(parent->Controls().empty());
  form.HostMouseMove(0, 6, 6);  // the parent takes over
  form.HostMouseUp(TMouseButton::mbLeft, 0, 6, 6);
  form.HostKeyDown(vk::Return, 0, 0);
  CheckSynchronize();
  EXPECT_TRUE(parent->IsMouseOver());

  // A freed parent leaves its children in no tree; the form stays usable.
  auto* orphan = new TProbe(&form, &log, "o");
  orphan->SetParent(parent);
  delete parent;
  EXPECT_EQ(orphan->Parent(), nullptr);
  EXPECT_EQ(orphan->ParentForm(), nullptr);
  form.HostMouseMove(0, 5, 5);
  EXPECT_TRUE(form.IsMouseOver());

  // A form freed by a handler while it routes input.
  auto* owned = new TForm(nullptr);
  owned->Show();
  owned->OnKeyDown = [&](TComponent* Sender, uint16_t&, char32_t&, TShiftState) { delete Sender; };
  owned->HostKeyDown(vk::Escape, 0, 0);
  CheckSynchronize();
}
