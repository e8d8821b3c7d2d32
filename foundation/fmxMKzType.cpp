#include "foundation/fmxMKzType.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstring>
#include <memory>
#include <mutex>
#include <random>

#include "foundation/fmxMKzMessages.h"
#include "foundation/fmxMKzRedact.h"
#include "platform/fmxMKzPlatformClock.h"
#include "platform/fmxMKzPlatformFiles.h"
#include "platform/fmxMKzPlatformSockets.h"

namespace kz {

// ---- CRC-32

namespace {
constexpr std::array<uint32_t, 256> MakeCrc32Table() {
  std::array<uint32_t, 256> t{};
  for (uint32_t n = 0; n < 256; ++n) {
    uint32_t c = n;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    t[n] = c;
  }
  return t;
}
}  // namespace

const std::array<uint32_t, 256> Crc32Table = MakeCrc32Table();

uint32_t Crc32(const void* Buffer, size_t Length) {
  if (Length == 0 || !Buffer) return 0;
  const auto* p = static_cast<const uint8_t*>(Buffer);
  uint32_t c = 0xFFFFFFFFu;
  for (size_t i = 0; i < Length; ++i) c = Crc32Table[(c ^ p[i]) & 0xFF] ^ (c >> 8);
  return c ^ 0xFFFFFFFFu;
}

// ---- Frame rate

void KzInitFPS(TKzFPS& FPS) {
  FPS.nCount = 0;
  FPS.LastFPS = 0;
  FPS.LastUpdate = static_cast<int64_t>(KzMGetTickCount());
}

double KzRecalcFPS(int32_t Count, TKzFPS& FPS) {
  const int64_t now = static_cast<int64_t>(KzMGetTickCount());
  if (Count >= 0) {
    if (now - FPS.LastUpdate > 1000) {
      FPS.LastFPS = FPS.nCount;
      FPS.nCount = Count;
      FPS.LastUpdate = now;
    } else {
      FPS.nCount += Count;
    }
  } else {
    FPS.LastFPS = std::max(FPS.LastFPS + Count, 0.0);
    FPS.nCount = std::max(FPS.nCount + Count, 0);
    FPS.LastUpdate = now;
  }
  return FPS.LastFPS;
}

// ---- Ticks

uint64_t KzMGetTickCount() { return PlatformTickCount(); }

uint64_t KzMGetTickCountSinceStart() {
  static std::atomic<uint64_t> start{0};
  static std::once_flag once;
  std::call_once(once, [] { start.store(KzMGetTickCount()); });
  const uint64_t now = KzMGetTickCount();
  uint64_t s = start.load();
  if (now < s) {  // the clock went back: start again from here
    start.store(now);
    return 0;
  }
  return now - s;
}

// ---- Libraries

TModuleHandle KzMLoadLibrary(const std::string& FileName) {
  try {
    return PlatformLoadLibrary(FileName);
  } catch (...) {
    return nullptr;
  }
}

void* KzMGetProcAddress(TModuleHandle Module, const std::string& Name) { return PlatformGetProcAddress(Module, Name); }

void KzMFreeLibrary(TModuleHandle Module) { PlatformFreeLibrary(Module); }

namespace {
bool SameTextNoCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return std::tolower(x) == std::tolower(y); });
}
}  // namespace

void KzMAddToPathEnvironmentVar(const std::string& Directory) {
  static std::mutex pathLock;  // read-modify-write of PATH
  std::lock_guard<std::mutex> g(pathLock);
  std::string dir = Directory;
  if (!dir.empty() && dir.back() == PathDelim) dir.pop_back();
  const std::string withDelim = dir + PathDelim;
  const std::string path = PlatformGetEnv("PATH");
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find(PathSep, start);
    if (end == std::string::npos) end = path.size();
    const std::string element = path.substr(start, end - start);
    if (SameTextNoCase(element, dir) || SameTextNoCase(element, withDelim)) return;
    start = end + 1;
  }
  PlatformSetEnv("PATH", path + PathSep + dir);
}

// ---- Files

std::string KzMGetSysTempPath() { return PlatformTempDir(); }

std::string KzMGetTempFileName(const std::string& Prefix) {
  static std::mt19937 rng{std::random_device{}()};
  static std::mutex rngLock;  // guards rng
  unsigned n;
  {
    std::lock_guard<std::mutex> g(rngLock);
    n = rng() % 1000;
  }
  const std::string base = KzMGetSysTempPath() + PathDelim + Prefix;
  for (;; ++n) {
    std::string name = base + std::to_string(n);
    if (!PlatformFileExists(name)) return name;
  }
}

int64_t GetFileSize(const std::string& FileName) { return PlatformFirstMatchSize(FileName); }

// ---- Memory

void zeromemory(void* Dest, size_t Count) {
  if (Count) memset(Dest, 0, Count);
}
void copymemory(void* Dest, const void* Source, size_t Count) {
  if (Count) memmove(Dest, Source, Count);
}
void movememory(void* Dest, const void* Source, size_t Count) {
  if (Count) memmove(Dest, Source, Count);
}

// ---- Buffer options

void TKzBufferOptions::Assign(const TPersistent& Source) {
  const auto* o = dynamic_cast<const TKzBufferOptions*>(&Source);
  if (!o) return TPersistent::Assign(Source);
  FVideo = o->FVideo;
  FAudio = o->FAudio;
  FUserData = o->FUserData;
  FCmd = o->FCmd;
  FFileData = o->FFileData;
  FVideoBufferSize = o->FVideoBufferSize;
  FAudioBufferSize = o->FAudioBufferSize;
  FUserDataBufferSize = o->FUserDataBufferSize;
  FCmdBufferSize = o->FCmdBufferSize;
  FFileDataBufferSize = o->FFileDataBufferSize;
  FLimitType = o->FLimitType;
}

TKzStreamType TKzBufferOptions::GetStreamType(uint32_t Code) const {
  switch (Code) {
    case 1: return FVideo;
    case 2: return FAudio;
    case 4: return FUserData;
    case 8: return FCmd;
    case 16: return FFileData;
    default: throw EKzMediaError("Unknown data type");
  }
}

uint32_t TKzBufferOptions::GetMaxBufferSize(uint32_t Code) const {
  switch (Code) {
    case 1: return FVideoBufferSize;
    case 2: return FAudioBufferSize;
    case 4: return FUserDataBufferSize;
    case 8: return FCmdBufferSize;
    case 16: return FFileDataBufferSize;
    default: throw EKzMediaError("Unknown data type");
  }
}

// ---- Proxy

void TKzProxyProperty::Assign(const TPersistent& Source) {
  const auto* o = dynamic_cast<const TKzProxyProperty*>(&Source);
  if (!o) return TPersistent::Assign(Source);
  FProxyMode = o->FProxyMode;
  FHost = o->FHost;
  FPort = o->FPort;
  FUsername = o->FUsername;
  FPassword = o->FPassword;
}

// ---- Notifications

void KzPostMessageDebug(const void* Sender, int64_t Value, const std::string& Text) {
  auto text = std::make_shared<std::string>(KzRedactCredentials(Text));
  const LPARAM l = reinterpret_cast<LPARAM>(text.get());
  KzMessages().PostMessage2(Sender, KZ_MSG_DEBUG, static_cast<uint32_t>(Value), l, std::move(text));
}

void KzDebug(const void* Sender, int64_t Value, const TGUID& GUID) {
  if (!Sender) return;
  KzPostMessageDebug(Sender, Value, GUIDToStringA(GUID));
}

void KzErrorConnectedEvent(const void* Sender, uint16_t Error) {
  if (!Sender) return;
  KzMessages().PostMessage2(Sender, KZ_MSG_CONNECTION_ERROR, Error, 0);
}

// ---- HTTP header

std::string CreateHeader(const std::string& Url, const std::string& Host, const std::string& Body,
                         const std::string& Method) {
  std::string h;
  h.reserve(400 + Url.size() + Host.size() + Body.size());
  h += Method + " http://" + Url + " HTTP/1.1\r\n";
  h += "Host: " + Host + "\r\n";
  h += "User-Agent: KzMedia\r\n";
  h += "Referer: " + GetLocalHostAddress() + "\r\n";
  h += "Accept: */*;q=0.1\r\n";
  h += "Accept-Language: en-US,en;q=0.9\r\n";
  h += "Accept-Charset: windows-1252,utf-8;q=0.7,*;q=0.7\r\n";
  h += "Connection: Keep-Alive\r\n";
  h += "Content-Length: " + std::to_string(Body.size()) + "\r\n";
  h += "Content-Type: application/x-www-form-urlencoded\r\n\r\n";
  h += Body;
  return h;
}

// ---- Names

uint32_t LookupName(const std::string& HostName) { return PlatformLookupIPv4(HostName); }

std::string GetLocalHostAddress() { return PlatformLocalHostAddress(); }

}  // namespace kz
