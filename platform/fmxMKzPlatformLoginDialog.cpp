#include "platform/fmxMKzPlatformLoginDialog.h"

#include <memory>

#include "platform/fmxMKzPlatformUTF8.h"

namespace kz {

namespace {

constexpr TKzLoginTexts kLoginTexts[KzLoginLanguageCount] = {
    {"Log on", "User name", "Password", "OK", "Cancel"},
    {"Connexion", "Nom d'utilisateur", "Mot de passe", "OK", "Annuler"},
    {"Anmeldung", "Benutzername", "Kennwort", "OK", "Abbrechen"},
    {"Вход", "Имя пользователя", "Пароль", "ОК", "Отмена"},
    {"Iniciar sesión", "Nombre de usuario", "Contraseña", "Aceptar", "Cancelar"},
    {"Entrar", "Nome de usuário", "Senha", "OK", "Cancelar"},
    {"登录", "用户名", "密码", "确定", "取消"},
    {"登入", "使用者名稱", "密碼", "確定", "取消"},
};

// Layout of the form (pixels).
constexpr int32_t kFormW = 380, kFormH = 178;
constexpr int32_t kLabelX = 16, kEditX = 150, kEditW = 214, kEditH = 26;
constexpr int32_t kUserY = 52, kPassY = 88;
constexpr int32_t kButtonW = 96, kButtonH = 28, kButtonY = 134;

constexpr TAlphaColor kFormFill = 0xFFF0F0F0u;
constexpr TAlphaColor kTextColor = 0xFF202020u;
constexpr TAlphaColor kBorder = 0xFF9A9A9Au;
constexpr TAlphaColor kFocusBorder = 0xFF3C78D8u;

size_t CodePointCount(const std::string& S) {
  size_t n = 0;
  for (size_t i = 0; i < S.size(); ++n) KzNextCodePoint(S, i);
  return n;
}

TKzFont TextFont(float Size = 13.0f, uint8_t Style = 0) {
  TKzFont f;
  f.Size = Size;
  f.Style = Style;
  f.Color = kTextColor;
  return f;
}

}  // namespace

const TKzLoginTexts& KzLoginTexts(uint8_t Language) {
  return kLoginTexts[Language < KzLoginLanguageCount ? Language : 0];
}

// A one-line edit field; a password field shows bullets.
class TKzLoginEdit : public TTextControl {
public:
  TKzLoginEdit(TComponent* AOwner, bool APassword) : TTextControl(AOwner), FPassword(APassword) {
    SetCanFocus(true);
    SetCursor(TCursor::crIBeam);
    TextSettings().Font = TextFont();
  }
  std::string Shown() const {
    if (!FPassword) return Text();
    std::string s;
    for (size_t i = CodePointCount(Text()); i > 0; --i) s += "\xE2\x80\xA2";  // U+2022
    return s;
  }
  void Paint(TCanvas& C) override {
    const TRect r = LocalRect();
    C.FillRect(r, 0xFFFFFFFFu);
    C.DrawRect(r, IsFocused() ? kFocusBorder : kBorder, IsFocused() ? 2 : 1);
    const TRect inner(r.Left + 6, r.Top, r.Right - 6, r.Bottom);
    const std::string shown = Shown();
    C.DrawText(inner, shown, TextSettings().Font, TKzTextAlign::kztaLeading);
    if (IsFocused()) {
      const int32_t x = std::min(inner.Left + TCanvas::MeasureText(shown, TextSettings().Font).Width + 1, inner.Right - 1);
      C.DrawLine(TPoint{x, r.Top + 5}, TPoint{x, r.Bottom - 6}, kTextColor);
    }
  }
  void KeyDown(uint16_t& Key, char32_t& KeyChar, TShiftState Shift) override {
    TTextControl::KeyDown(Key, KeyChar, Shift);
    std::string t = Text();
    if (Key == vk::Back) {
      // Drops the last character, all of its bytes.
      while (!t.empty() && (static_cast<uint8_t>(t.back()) & 0xC0) == 0x80) t.pop_back();
      if (!t.empty()) t.pop_back();
      Key = 0;
    } else if (KeyChar >= 0x20 && KeyChar != 0x7F && (Shift & (ssCtrl | ssAlt)) == 0) {
      KzAppendUTF8(t, KeyChar);
      KeyChar = 0;
    } else {
      return;  // Tab, Enter and Escape belong to the form
    }
    SetText(t);
  }
  void DoEnter() override { Repaint(); }
  void DoExit() override { Repaint(); }

private:
  bool FPassword;
};

// A push button: fires OnClick when pressed and released over it.
class TKzLoginButton : public TTextControl {
public:
  explicit TKzLoginButton(TComponent* AOwner) : TTextControl(AOwner) {
    TextSettings().Font = TextFont();
    TextSettings().HorzAlign = TKzTextAlign::kztaCenter;
  }
  std::function<void()> OnClick;
  void Paint(TCanvas& C) override {
    const TRect r = LocalRect();
    C.FillRect(r, FDown && IsMouseOver() ? 0xFFCCD8EAu : IsMouseOver() ? 0xFFE4ECF7u : 0xFFFDFDFDu);
    C.DrawRect(r, IsMouseOver() ? kFocusBorder : kBorder);
    C.DrawText(r, Text(), TextSettings().Font, TKzTextAlign::kztaCenter);
  }
  void MouseDown(TMouseButton B, TShiftState S, float X, float Y) override {
    TTextControl::MouseDown(B, S, X, Y);
    if (B == TMouseButton::mbLeft) FDown = true;
    Repaint();
  }
  void MouseUp(TMouseButton B, TShiftState S, float X, float Y) override {
    TTextControl::MouseUp(B, S, X, Y);
    const bool click = FDown && B == TMouseButton::mbLeft && X >= 0 && Y >= 0 && X < Width() && Y < Height();
    FDown = false;
    Repaint();
    if (click && OnClick) OnClick();
  }
  void DoMouseEnter() override {
    TTextControl::DoMouseEnter();
    Repaint();
  }
  void DoMouseLeave() override {
    TTextControl::DoMouseLeave();
    Repaint();
  }

private:
  bool FDown = false;
};

TfrmKzLogin::TfrmKzLogin(TComponent* AOwner) : TForm(AOwner) {
  SetBorderStyle(TFormBorderStyle::bsDialog);
  SetFill(kFormFill);
  SetBounds(200, 160, kFormW, kFormH);
  FUserEdit = new TKzLoginEdit(this, false);
  FUserEdit->SetParent(this);
  FUserEdit->SetBounds(kEditX, kUserY, kEditW, kEditH);
  FPassEdit = new TKzLoginEdit(this, true);
  FPassEdit->SetParent(this);
  FPassEdit->SetBounds(kEditX, kPassY, kEditW, kEditH);
  FOk = new TKzLoginButton(this);
  FOk->SetParent(this);
  FOk->SetBounds(kFormW - 2 * kButtonW - 26, kButtonY, kButtonW, kButtonH);
  FOk->OnClick = [this] { SetModalResult(TModalResult::mrOk); };
  FCancel = new TKzLoginButton(this);
  FCancel->SetParent(this);
  FCancel->SetBounds(kFormW - kButtonW - 16, kButtonY, kButtonW, kButtonH);
  FCancel->OnClick = [this] { SetModalResult(TModalResult::mrCancel); };
  Localise(0);
  FUserEdit->SetFocus();
}

void TfrmKzLogin::Localise(uint8_t Language) {
  FLanguage = Language < KzLoginLanguageCount ? Language : 0;
  const TKzLoginTexts& t = KzLoginTexts(FLanguage);
  FOk->SetText(t.Ok);
  FCancel->SetText(t.Cancel);
  Repaint();
}

std::string TfrmKzLogin::UserName() const { return FUserEdit->Text(); }
void TfrmKzLogin::SetUserName(const std::string& Value) { FUserEdit->SetText(Value); }
std::string TfrmKzLogin::Password() const { return FPassEdit->Text(); }
void TfrmKzLogin::SetPassword(const std::string& Value) { FPassEdit->SetText(Value); }
TControl* TfrmKzLogin::UserNameEdit() const { return FUserEdit; }
TControl* TfrmKzLogin::PasswordEdit() const { return FPassEdit; }
TControl* TfrmKzLogin::OkButton() const { return FOk; }
TControl* TfrmKzLogin::CancelButton() const { return FCancel; }
std::string TfrmKzLogin::PasswordShown() const { return FPassEdit->Shown(); }

void TfrmKzLogin::Paint(TCanvas& Canvas) {
  TForm::Paint(Canvas);
  const TKzLoginTexts& t = KzLoginTexts(FLanguage);
  const std::string title = Caption().empty() ? t.Title : Caption();
  Canvas.DrawText(TRect(kLabelX, 10, Width() - kLabelX, 38), title, TextFont(15.0f, kzfsBold), TKzTextAlign::kztaLeading);
  Canvas.DrawText(TRect(kLabelX, kUserY, kEditX - 8, kUserY + kEditH), t.UserName, TextFont(),
                  TKzTextAlign::kztaLeading);
  Canvas.DrawText(TRect(kLabelX, kPassY, kEditX - 8, kPassY + kEditH), t.Password, TextFont(),
                  TKzTextAlign::kztaLeading);
}

void TfrmKzLogin::KeyDown(uint16_t& Key, char32_t& KeyChar, TShiftState Shift) {
  TForm::KeyDown(Key, KeyChar, Shift);
  switch (Key) {
    case vk::Tab:
      (Focused() == FUserEdit ? FPassEdit : FUserEdit)->SetFocus();
      break;
    case vk::Return: SetModalResult(TModalResult::mrOk); break;
    case vk::Escape: SetModalResult(TModalResult::mrCancel); break;
    default: return;
  }
  Key = 0;
  KeyChar = 0;
}

bool TKzLoginDialogProvider::ShowLoginForm(TKzLoginFormData& Data) {
  auto form = std::make_unique<TfrmKzLogin>(nullptr);
  form->Localise(Data.Language);
  form->SetCaption(Data.Caption);
  form->SetUserName(Data.UserName);
  form->SetPassword(Data.Password);
  // With a name already there, the password is what is missing.
  (Data.UserName.empty() ? form->UserNameEdit() : form->PasswordEdit())->SetFocus();
  if (form->ShowModal() != TModalResult::mrOk) return false;
  Data.UserName = form->UserName();
  Data.Password = form->Password();
  return true;
}

}  // namespace kz
