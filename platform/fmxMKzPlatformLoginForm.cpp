#include "platform/fmxMKzPlatformLoginForm.h"

namespace kz {

namespace {
class THeadlessLoginForm : public IKzLoginFormProvider {
public:
  bool ShowLoginForm(TKzLoginFormData&) override { return false; }
};

THeadlessLoginForm gHeadless;
IKzLoginFormProvider* gProvider = nullptr;  // main thread only
}  // namespace

IKzLoginFormProvider& KzLoginFormProvider() { return gProvider ? *gProvider : gHeadless; }

IKzLoginFormProvider* KzSetLoginFormProvider(IKzLoginFormProvider* Provider) {
  IKzLoginFormProvider* old = gProvider;
  gProvider = Provider;
  return old;
}

}  // namespace kz
