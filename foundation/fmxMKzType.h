// Shared types and platform services of the library: media kinds and data
// type codes, media descriptions, the packet header record, frame markers,
// CRC-32, frame-rate counter, tick counts, run-time libraries, temporary
// files, memory helpers, the buffer and proxy option objects, the
// notification helpers and the HTTP request header used to carry streams
// over HTTP.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>

#include "foundation/Fmxmkzguidfuncs.h"
#include "foundation/fmxMKzErrors.h"
#include "platform/fmxMKzPlatformComponent.h"
#include "platform/fmxMKzPlatformLibrary.h"

namespace kz {

// ---- Media kinds
enum class TKzMediaType : uint8_t { kzmtVideo = 0, kzmtAudio = 1, kzmtUserData = 2, kzmtFileData = 3, kzmtCmdData = 4 };

// A set of media kinds in one byte: bit n stands for the kind of ordinal n.
class TKzMediaTypes {
public:
  constexpr TKzMediaTypes() = default;
  constexpr TKzMediaTypes(std::initializer_list<TKzMediaType> Types) {
    for (TKzMediaType t : Types) Include(t);
  }
  static constexpr TKzMediaTypes FromBits(uint8_t Bits) {
    TKzMediaTypes s;
    s.FBits = Bits & 0x1F;
    return s;
  }
  constexpr uint8_t Bits() const { return FBits; }
  constexpr bool Contains(TKzMediaType T) const { return (FBits & Bit(T)) != 0; }
  constexpr bool Empty() const { return FBits == 0; }
  constexpr void Include(TKzMediaType T) { FBits = static_cast<uint8_t>(FBits | Bit(T)); }
  constexpr void Exclude(TKzMediaType T) { FBits = static_cast<uint8_t>(FBits & ~Bit(T)); }
  constexpr bool operator==(const TKzMediaTypes&) const = default;

private:
  static constexpr uint8_t Bit(TKzMediaType T) { return static_cast<uint8_t>(1u << static_cast<uint8_t>(T)); }
  uint8_t FBits = 0;
};

// Data type codes: how a media kind travels in packets and is kept in the
// data lists. One-hot in the low five bits of a 16-bit data-type word whose
// higher bits are header flags.
constexpr uint8_t DATA_TYPE_VIDEO = 1;
constexpr uint8_t DATA_TYPE_AUDIO = 2;
constexpr uint8_t DATA_TYPE_USERDATA = 4;
constexpr uint8_t DATA_TYPE_CMD = 8;
constexpr uint8_t DATA_TYPE_FILE = 16;
constexpr uint16_t DATA_TYPE_MASK = 31;

// ---- Media descriptions (one TKzInfo accompanies every chunk added to a data list)
enum class TKzEncodingType : uint8_t {
  kzetJPEG = 0,
  kzetJPEGChange = 1,
  kzetHWL = 2,
  kzetHWLChange = 3,
  kzetBMP = 4,
  kzetBMPChange = 5,
  kzetPNG = 6,
  kzetPNGChange = 7,
  kzetMixFormat = 8,
  kzetMixFormatChange = 9,  // the "Change" kinds carry changed areas only
};

enum class TKzBitsPerSample : uint8_t { kzbps8 = 0, kzbps16 = 1 };
using TKzSamplesPerSec = int32_t;

struct TKzVideoInfo {
  TKzEncodingType Encoding = TKzEncodingType::kzetJPEG;
  bool operator==(const TKzVideoInfo&) const = default;
};

struct TKzAudioInfo {
  TKzSamplesPerSec SamplesPerSec = 0;
  TKzBitsPerSample BitsPerSample = TKzBitsPerSample::kzbps8;
  int32_t Channels = 0;
  bool operator==(const TKzAudioInfo&) const = default;
};

struct TKzFileInfo {
  std::string FileName;
  TGUID FileGUID;
  int64_t FileOffs = 0;
  int64_t TotalFileSize = 0;
};

struct TKzInfo {
  uint16_t MediaIndex = 0;
  TKzVideoInfo VideoInfo;
  TKzAudioInfo AudioInfo;
  TKzFileInfo FileInfo;
};

// ---- Packet header record (60 bytes on the wire: MARKER, LenPack, GUIDTo,
// GUIDFrom, GUIDGroup). The data lists copy it whole and key on GUIDFrom.
using TKzMarker = std::array<uint8_t, 4>;

struct TKzHeaderPack {
  static constexpr size_t WireSize = 60;
  TKzMarker MARKER{};
  int64_t LenPack = 0;
  TGUID GUIDTo;
  TGUID GUIDFrom;
  TGUID GUIDGroup;
};

// ---- Frame markers, bytes in memory order. The begin/end image markers are
// four bytes; of the format markers only the first three bytes (two letters
// and B or E) are ever written or compared, the fourth is always 0x90.
constexpr TKzMarker MKz_BEGINIMG = {0x44, 0x4D, 0x49, 0x42};  // "DMIB"
constexpr TKzMarker MKz_ENDIMG = {0x44, 0x4D, 0x49, 0x45};    // "DMIE"
constexpr TKzMarker SOI_JPEG = {0x4A, 0x47, 0x42, 0x90};
constexpr TKzMarker EOI_JPEG = {0x4A, 0x47, 0x45, 0x90};
constexpr TKzMarker SOI_HWL = {0x48, 0x57, 0x42, 0x90};
constexpr TKzMarker EOI_HWL = {0x48, 0x57, 0x45, 0x90};
constexpr TKzMarker SOI_BMP = {0x42, 0x4D, 0x42, 0x90};
constexpr TKzMarker EOI_BMP = {0x42, 0x4D, 0x45, 0x90};
constexpr TKzMarker SOI_PNG = {0x50, 0x4E, 0x42, 0x90};
constexpr TKzMarker EOI_PNG = {0x50, 0x4E, 0x45, 0x90};
constexpr TKzMarker SOI_AUDIO = {0x41, 0x55, 0x42, 0x90};
constexpr TKzMarker EOI_AUDIO = {0x41, 0x55, 0x45, 0x90};
constexpr size_t FORMAT_MARKER_LEN = 3;

// ---- CRC-32 of IEEE 802.3 (reflected 0xEDB88320, preset and final
// complement). A length of 0 gives 0. Any thread, never blocks.
extern const std::array<uint32_t, 256> Crc32Table;
uint32_t Crc32(const void* Buffer, size_t Length);

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
// Saturating arithmetic for times that come from the network. Pure.
inline int64_t KzSatAdd(int64_t A, int64_t B) {
  int64_t r;
  if (!__builtin_add_overflow(A, B, &r)) return r;
  return B > 0 ? INT64_MAX : INT64_MIN;
}
inline int64_t KzSatSub(int64_t A, int64_t B) {
  int64_t r;
  if (!__builtin_sub_overflow(A, B, &r)) return r;
  return B < 0 ? INT64_MAX : INT64_MIN;
}

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
// 1034: WParam the low 32 bits of Value, LParam the text (KzMessageText)
// with its credentials taken out (KzRedactCredentials).
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
