#include "streaming/server/fmxMKzServerAuth.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>

#include <chrono>
#include <fstream>
#include <sstream>

#include "streaming/fmxMKzPacketWriter.h"

namespace kz {

namespace {

std::string Hex(const uint8_t* Data, size_t Size) {
  static const char* kDigits = "0123456789abcdef";
  std::string s;
  s.reserve(Size * 2);
  for (size_t i = 0; i < Size; ++i) {
    s.push_back(kDigits[Data[i] >> 4]);
    s.push_back(kDigits[Data[i] & 15]);
  }
  return s;
}

std::string AuthMessage(const std::string& GUIDText, int64_t Time, const std::string& Nonce) {
  return GUIDText + "\n" + std::to_string(Time) + "\n" + Nonce;
}

}  // namespace

int64_t KzUnixTime() {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

std::string KzHmacSha256Hex(const std::string& Key, const std::string& Message) {
  uint8_t mac[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  HMAC(EVP_sha256(), Key.data(), static_cast<int>(Key.size()), reinterpret_cast<const uint8_t*>(Message.data()),
       Message.size(), mac, &len);
  return Hex(mac, len);
}

TKzCmd KzMakeAuthCmd(const TGUID& GUID, const std::string& Secret, int64_t Now) {
  uint8_t random[16];
  if (RAND_bytes(random, sizeof random) != 1) {
    const TGUID g = KzCreateGUID();
    GUIDToBytes(g, random);
  }
  const std::string nonce = Hex(random, sizeof random);
  const std::string text = GUIDToStringA(GUID);
  TKzCmd cmd;
  cmd.Name = KZ_AUTH_CMD;
  cmd.AddParam("GUID").SetString(text);
  cmd.AddParam("Time").SetInteger(Now);
  cmd.AddParam("Nonce").SetString(nonce);
  cmd.AddParam("HMAC").SetString(KzHmacSha256Hex(Secret, AuthMessage(text, Now, nonce)));
  return cmd;
}

std::vector<uint8_t> KzMakeAuthPacket(const TGUID& GUID, const std::string& Secret) {
  TMemoryStream payload;
  KzSaveCmdPayload({KzMakeAuthCmd(GUID, Secret, KzUnixTime())}, payload);
  TKzPacketSpec spec;
  spec.DataType = DATA_TYPE_CMD;
  spec.BufferSize = static_cast<uint32_t>(payload.Size() + 256);
  spec.GUIDFrom = GUID;
  uint16_t index = 0;
  std::vector<uint8_t> out;
  TKzPacketWriter writer;
  writer.Write(spec, payload.Memory(), static_cast<size_t>(payload.Size()), index,
               [&out](const uint8_t* D, size_t N) {
                 out.insert(out.end(), D, D + N);
                 return true;
               });
  return out;
}

bool TKzServerAuth::LoadFile(const std::string& FileName, std::string& Error) {
  std::ifstream f(FileName);
  if (!f) {
    Error = "cannot read " + FileName;
    return false;
  }
  std::stringstream text;
  text << f.rdbuf();
  return LoadText(text.str(), Error);
}

bool TKzServerAuth::LoadText(const std::string& Text, std::string& Error) {
  auto table = std::make_shared<TTable>();
  std::istringstream lines(Text);
  int number = 0;
  for (std::string line; std::getline(lines, line);) {
    ++number;
    std::istringstream words(line);
    std::string guid, secret;
    if (!(words >> guid) || guid[0] == '#') continue;
    TKzAuthEntry e;
    try {
      e.GUID = StringToGUIDA(guid);
      if (!(words >> secret) || IsNull(e.GUID)) throw EKzConvertError("no secret");
      e.Secret = secret;
      for (std::string g; words >> g;) e.Groups.push_back(StringToGUIDA(g));
    } catch (const std::exception&) {
      Error = "line " + std::to_string(number) + ": expected \"GUID secret group...\"";
      return false;
    }
    (*table)[e.GUID] = std::move(e);
  }
  std::lock_guard<std::mutex> g(FLock);
  FTable = std::move(table);
  return true;
}

size_t TKzServerAuth::Count() const {
  std::lock_guard<std::mutex> g(FLock);
  return FTable->size();
}

bool TKzServerAuth::Verify(const TKzCmd& Cmd, int64_t Now, TGUID& Who, std::string& Why) {
  if (Cmd.Name != KZ_AUTH_CMD) {
    Why = "no proof";
    return false;
  }
  const std::string text = Cmd.GetAsStringSafe("GUID");
  const int64_t time = Cmd.GetAsIntegerSafe("Time", 0);
  const std::string nonce = Cmd.GetAsStringSafe("Nonce");
  const std::string mac = Cmd.GetAsStringSafe("HMAC");
  TGUID who;
  try {
    who = StringToGUIDA(text);
  } catch (const std::exception&) {
    Why = "malformed GUID";
    return false;
  }
  std::lock_guard<std::mutex> g(FLock);
  auto it = FTable->find(who);
  if (it == FTable->end()) {
    Why = "unknown participant";
    return false;
  }
  if (time < Now - KZ_AUTH_WINDOW_S || time > Now + KZ_AUTH_WINDOW_S) {
    Why = "time outside the window";
    return false;
  }
  const std::string expected = KzHmacSha256Hex(it->second.Secret, AuthMessage(text, time, nonce));
  if (nonce.empty() || mac.size() != expected.size() || CRYPTO_memcmp(mac.data(), expected.data(), mac.size()) != 0) {
    Why = "wrong proof";
    return false;
  }
  for (auto n = FNonces.begin(); n != FNonces.end();)
    n = n->second < Now - 2 * KZ_AUTH_WINDOW_S ? FNonces.erase(n) : std::next(n);
  if (!FNonces.emplace(nonce, Now).second) {
    Why = "replayed proof";
    return false;
  }
  Who = who;
  return true;
}

bool TKzServerAuth::MayJoin(const TGUID& Who, const TGUID& Group) const {
  std::lock_guard<std::mutex> g(FLock);
  auto it = FTable->find(Who);
  if (it == FTable->end()) return false;
  for (const TGUID& x : it->second.Groups)
    if (x == Group) return true;
  return false;
}

}  // namespace kz
