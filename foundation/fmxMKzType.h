// Shared types and platform services of the library: frame-rate counter,
// tick counts, run-time libraries, temporary files, memory helpers, the
// buffer and proxy option objects, the notification helpers and the HTTP
// request header used to carry streams over HTTP.
#pragma once
#include <cstdint>
#include <string>

#include "foundation/Fmxmkzguidfuncs.h"
#include "foundation/fmxMKzErrors.h"
#include "platform/fmxMKzPlatformComponent.h"
#include "platform/fmxMKzPlatformLibrary.h"

namespace kz {

// ---- Stream storage kinds
enum class TKzStreamType : uint8_t { kzstMemory = 0, kzstFile = 1 };
enum class TKzBufferLimitType : uint8_t { kzbltNo = 0, kzbltLimitAll = 1, kzbltLimitMemory = 2 };

// ---- Frame-rate counter: frames counted in the last window of just over a second.
struct TKzFPS {
  double LastFPS = 0;
  int64_t LastUpdate = 0;
  int32_t nCount = 0;
};
// Any thread (the caller owns FPS), never block.
void KzInitFPS(TKzFPS& FPS);
double KzRecalcFPS(int32_t Count, TKzFPS& FPS);

// ---- Tick counts (64-bit milliseconds; the virtual clock in tests)
uint64_t KzMGetTickCount();
// Milliseconds since the first call in the process.
uint64_t KzMGetTickCountSinceStart();

// ---- Run-time libraries. Never throw; 0/null on failure. Any thread.
TModuleHandle KzMLoadLibrary(const std::string& FileName);
void* KzMGetProcAddress(TModuleHandle Module, const std::string& Name);
void KzMFreeLibrary(TModuleHandle Module);
// Appends Directory to PATH unless it is already there (case-insensitive,
// with or without a trailing "/"). Any thread.
void KzMAddToPathEnvironmentVar(const std::string& Directory);

// ---- Files
std::string KzMGetSysTempPath();
// Temporary directory + "/" + Prefix + a number, the first name not taken.
std::string KzMGetTempFileName(const std::string& Prefix);
// Size of the first file matching FileName (wildcards allowed), -1 when none.
int64_t GetFileSize(const std::string& FileName);

// ---- Memory
void zeromemory(void* Dest, size_t Count);
void copymemory(void* Dest, const void* Source, size_t Count);
void movememory(void* Dest, const void* Source, size_t Count);

// ---- Buffer options (persistent sub-object of a component)
class TKzBufferOptions : public TPersistent {
public:
  explicit TKzBufferOptions(TComponent* AOwner = nullptr) : FOwner(AOwner) {}
  void Assign(const TPersistent& Source) override;
  TComponent* Owner() const { return FOwner; }

  // The setting for a data type code (1, 2, 4, 8, 16); any other code
  // raises EKzMediaError("Unknown data type").
  TKzStreamType GetStreamType(uint32_t Code) const;
  uint32_t GetMaxBufferSize(uint32_t Code) const;

  TKzStreamType Video() const { return FVideo; }
  void SetVideo(TKzStreamType V) { FVideo = V; }
  TKzStreamType Audio() const { return FAudio; }
  void SetAudio(TKzStreamType V) { FAudio = V; }
  TKzStreamType UserData() const { return FUserData; }
  void SetUserData(TKzStreamType V) { FUserData = V; }
  TKzStreamType Cmd() const { return FCmd; }
  void SetCmd(TKzStreamType V) { FCmd = V; }
  TKzStreamType FileData() const { return FFileData; }
  void SetFileData(TKzStreamType V) { FFileData = V; }
  uint32_t VideoBufferSize() const { return FVideoBufferSize; }
  void SetVideoBufferSize(uint32_t V) { FVideoBufferSize = V; }
  uint32_t AudioBufferSize() const { return FAudioBufferSize; }
  void SetAudioBufferSize(uint32_t V) { FAudioBufferSize = V; }
  uint32_t UserDataBufferSize() const { return FUserDataBufferSize; }
  void SetUserDataBufferSize(uint32_t V) { FUserDataBufferSize = V; }
  uint32_t CmdBufferSize() const { return FCmdBufferSize; }
  void SetCmdBufferSize(uint32_t V) { FCmdBufferSize = V; }
  uint32_t FileDataBufferSize() const { return FFileDataBufferSize; }
  void SetFileDataBufferSize(uint32_t V) { FFileDataBufferSize = V; }
  TKzBufferLimitType LimitType() const { return FLimitType; }
  void SetLimitType(TKzBufferLimitType V) { FLimitType = V; }

private:
  TComponent* FOwner;
  TKzStreamType FVideo = TKzStreamType::kzstMemory;
  TKzStreamType FAudio = TKzStreamType::kzstMemory;
  TKzStreamType FUserData = TKzStreamType::kzstMemory;
  TKzStreamType FCmd = TKzStreamType::kzstMemory;
  TKzStreamType FFileData = TKzStreamType::kzstFile;
  uint32_t FVideoBufferSize = 819200;
  uint32_t FAudioBufferSize = 1638400;
  uint32_t FUserDataBufferSize = 8192000;
  uint32_t FCmdBufferSize = 819200;
  uint32_t FFileDataBufferSize = 10485760;
  TKzBufferLimitType FLimitType = TKzBufferLimitType::kzbltLimitMemory;
};

// ---- Proxy settings
enum class TKzMFProxyMode : uint8_t { kzmNoProxy = 0, kzmManualSettings = 1 };

// Implemented by the owner of a TKzProxyProperty: told when a setting changes.
class IProxyProperty {
public:
  virtual ~IProxyProperty() = default;
  virtual void UpdateProxy() = 0;
};

class TKzProxyProperty : public TPersistent {
public:
  explicit TKzProxyProperty(IProxyProperty* AOwner = nullptr) : FOwner(AOwner) {}
  // Copies the five values without notifying the owner.
  void Assign(const TPersistent& Source) override;

  TKzMFProxyMode ProxyMode() const { return FProxyMode; }
  void SetProxyMode(TKzMFProxyMode V) { FProxyMode = V; Changed(); }
  const std::string& Host() const { return FHost; }
  void SetHost(const std::string& V) { FHost = V; Changed(); }
  int32_t Port() const { return FPort; }
  void SetPort(int32_t V) { FPort = V; Changed(); }
  const std::string& Username() const { return FUsername; }
  void SetUsername(const std::string& V) { FUsername = V; Changed(); }
  const std::string& Password() const { return FPassword; }
  void SetPassword(const std::string& V) { FPassword = V; Changed(); }

private:
  void Changed() {
    if (FOwner) FOwner->UpdateProxy();
  }
  IProxyProperty* FOwner;
  TKzMFProxyMode FProxyMode = TKzMFProxyMode::kzmNoProxy;
  std::string FHost;
  int32_t FPort = 8080;
  std::string FUsername;
  std::string FPassword;
};

// ---- Notifications through the message pump
// 1034: WParam the low 32 bits of Value, LParam the text (KzMessageText).
void KzPostMessageDebug(const void* Sender, int64_t Value, const std::string& Text);
// 1034 with the GUID in registry form; nothing for a null sender.
void KzDebug(const void* Sender, int64_t Value, const TGUID& GUID);
// 1027 with the 16-bit error code; nothing for a null sender.
void KzErrorConnectedEvent(const void* Sender, uint16_t Error);

// ---- HTTP request header that carries a stream over HTTP.
std::string CreateHeader(const std::string& Url, const std::string& Host, const std::string& Body,
                         const std::string& Method);

// ---- Other
inline bool IsSupportedOpenGL() { return false; }
inline bool IsSupportedDirectX() { return false; }
inline uint32_t MKzGetSysColor(uint32_t Color) { return Color; }
// Network-order IPv4 address of HostName, 0 when it does not resolve. Any thread; may block.
uint32_t LookupName(const std::string& HostName);
std::string GetLocalHostAddress();

}  // namespace kz
