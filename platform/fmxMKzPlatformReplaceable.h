// A process-wide service with a built-in default that a program may replace
// by its own (the window host, the log-on form). Main thread only.
#pragma once

namespace kz {

template <typename TInterface>
class TKzReplaceable {
public:
  explicit TKzReplaceable(TInterface& Default) : FDefault(Default) {}
  // The installed service, else the default.
  TInterface& Current() const { return FInstalled ? *FInstalled : FDefault; }
  // Installs Value (nullptr: back to the default); returns the previously
  // installed one (nullptr when it was the default). The caller keeps ownership.
  TInterface* Install(TInterface* Value) {
    TInterface* old = FInstalled;
    FInstalled = Value;
    return old;
  }

private:
  TInterface& FDefault;
  TInterface* FInstalled = nullptr;
};

}  // namespace kz
