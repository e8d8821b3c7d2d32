// The log-on form: a modal dialog with a caption, a user-name and a password
// field, and OK/Cancel. Programs with windows install a provider that shows
// a real form; without one, a headless provider answers Cancel, so that a
// program without a window never waits for a user who is not there.
#pragma once
#include <cstdint>
#include <string>

namespace kz {

// What the form shows and, on OK, what the user typed.
struct TKzLoginFormData {
  std::string Caption;   // usually the realm the server named
  uint8_t Language = 0;  // ordinal of the library's language (English = 0)
  std::string UserName;
  std::string Password;
};

class IKzLoginFormProvider {
public:
  virtual ~IKzLoginFormProvider() = default;
  // Shows the form modally with Data filled in; on OK copies the two fields
  // back into Data and returns true, on Cancel leaves Data alone and returns
  // false. Main thread; blocks while the form is shown.
  virtual bool ShowLoginForm(TKzLoginFormData& Data) = 0;
};

// The provider in use: the installed one, else the headless one (Cancel).
// Main thread, never blocks.
IKzLoginFormProvider& KzLoginFormProvider();
// Installs a provider (nullptr: back to the headless one); returns the
// previous one (nullptr when it was the headless one). The caller keeps
// ownership. Main thread, never blocks.
IKzLoginFormProvider* KzSetLoginFormProvider(IKzLoginFormProvider* Provider);

}  // namespace kz
