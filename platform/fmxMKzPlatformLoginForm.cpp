#include "platform/fmxMKzPlatformLoginForm.h"

#include "platform/fmxMKzPlatformReplaceable.h"

namespace kz {

namespace {
class THeadlessLoginForm : public IKzLoginFormProvider {
public:
  bool ShowLoginForm(TKzLoginFormData&) override { return false; }
};

THeadlessLoginForm gHeadless;
TKzReplaceable<IKzLoginFormProvider> gProvider(gHeadless);
}  // namespace

IKzLoginFormProvider& KzLoginFormProvider() { return gProvider.Current(); }

IKzLoginFormProvider* KzSetLoginFormProvider(IKzLoginFormProvider* Provider) { return gProvider.Install(Provider); }

}  // namespace kz
