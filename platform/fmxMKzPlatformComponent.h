// The component model of the framework: persistent objects with Assign,
// components with an owner that frees its children, free notification and
// the designing/loading/destroying state.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace kz {

class TPersistent {
public:
  virtual ~TPersistent() = default;
  // Copies the published values of Source. Caller's thread.
  virtual void Assign(const TPersistent& Source);
};

enum class TOperation { opInsert, opRemove };

// Component state flags.
enum TComponentStateFlag : uint8_t {
  csLoading = 1 << 0,
  csDesigning = 1 << 1,
  csDestroying = 1 << 2,
};

class TComponent : public TPersistent {
public:
  // Main thread, never blocks. The owner frees this component with itself.
  explicit TComponent(TComponent* AOwner);
  // Frees owned components and tells every component that asked for it.
  ~TComponent() override;
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  TComponent* Owner() const { return FOwner; }
  const std::vector<TComponent*>& Components() const { return FComponents; }
  int ComponentCount() const { return static_cast<int>(FComponents.size()); }

  const std::string& Name() const { return FName; }
  void SetName(const std::string& Value) { FName = Value; }

  uint8_t ComponentState() const { return FState; }
  bool IsDesigning() const { return (FState & csDesigning) != 0; }
  bool IsLoading() const { return (FState & csLoading) != 0; }
  bool IsDestroying() const { return (FState & csDestroying) != 0; }
  // Form designers and streaming set these; design mode passes to children.
  void SetDesigning(bool Value);
  // Marks the start of loading; EndLoading clears it and calls Loaded.
  void BeginLoading();
  void EndLoading();

  // Asks to be told (Notification with opRemove) when AComponent is freed.
  // Main thread, never blocks.
  void FreeNotification(TComponent* AComponent);
  void RemoveFreeNotification(TComponent* AComponent);

  // Marks the destroying state; destructors of derived classes call it first.
  void Destroying() { FState |= csDestroying; }

protected:
  // Called after loading (published values are in place).
  virtual void Loaded() {}
  // AComponent is being inserted or removed (freed).
  virtual void Notification(TComponent* AComponent, TOperation Operation);

private:
  void InsertComponent(TComponent* AComponent);
  void RemoveComponent(TComponent* AComponent);
  TComponent* FOwner = nullptr;
  std::vector<TComponent*> FComponents;
  std::vector<TComponent*> FFreeNotifies;
  std::string FName;
  uint8_t FState = 0;
};

}  // namespace kz
