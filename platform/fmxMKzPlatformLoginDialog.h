// The log-on form drawn with the canvas: the realm as caption, a user-name
// and a password field (the password shown as bullets), OK and Cancel.
// Keys: typing, Backspace, Tab between the fields, Enter for OK, Escape for
// Cancel; the mouse focuses a field and presses the buttons. The labels
// follow the library's language (ordinal of TKzMLanguage).
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/fmxMKzPlatformControl.h"
#include "platform/fmxMKzPlatformLoginForm.h"

namespace kz {

// Labels of the form in one language.
struct TKzLoginTexts {
  const char* Title;  // caption when the server named no realm
  const char* UserName;
  const char* Password;
  const char* Ok;
  const char* Cancel;
};

// Languages in the order of TKzMLanguage: English, French, German, Russian,
// Spanish, Portuguese (Brazil), Chinese Simplified, Chinese Traditional.
constexpr size_t KzLoginLanguageCount = 8;
// The labels of Language (English for an unknown ordinal). Any thread.
const TKzLoginTexts& KzLoginTexts(uint8_t Language);

class TKzLoginEdit;
class TKzLoginButton;

// The form. Main thread, like every form.
class TfrmKzLogin : public TForm {
public:
  explicit TfrmKzLogin(TComponent* AOwner);
  void Localise(uint8_t Language);
  std::string UserName() const;
  void SetUserName(const std::string& Value);
  std::string Password() const;
  void SetPassword(const std::string& Value);

  // The parts, for programs that script the form (tests, automation).
  TControl* UserNameEdit() const;
  TControl* PasswordEdit() const;
  TControl* OkButton() const;
  TControl* CancelButton() const;
  // What the password field shows: one bullet per character.
  std::string PasswordShown() const;

  void Paint(TCanvas& Canvas) override;
  void KeyDown(uint16_t& Key, char32_t& KeyChar, TShiftState Shift) override;

private:
  TKzLoginEdit* FUserEdit;
  TKzLoginEdit* FPassEdit;
  TKzLoginButton* FOk;
  TKzLoginButton* FCancel;
  uint8_t FLanguage = 0;
};

// Shows TfrmKzLogin modally through the current window host. Programs with a
// desktop host install one with KzSetLoginFormProvider. Main thread; blocks
// while the form is shown.
class TKzLoginDialogProvider : public IKzLoginFormProvider {
public:
  bool ShowLoginForm(TKzLoginFormData& Data) override;
};

}  // namespace kz
