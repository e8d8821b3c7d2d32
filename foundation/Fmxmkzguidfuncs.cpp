#include "foundation/Fmxmkzguidfuncs.h"

#include <cstdio>
#include <random>

#include "foundation/fmxMKzErrors.h"

namespace kz {

TGUID EmptyGUID() { return TGUID{}; }

bool IsNull(const TGUID& G) { return G == TGUID{}; }

bool CompareGUID(const TGUID& A, const TGUID& B) { return A == B; }

namespace {
int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads Count hex digits at Pos; false on any non-digit.
bool ReadHex(const std::string& s, size_t Pos, size_t Count, uint64_t& Out) {
  Out = 0;
  for (size_t i = 0; i < Count; ++i) {
    int v = HexValue(s[Pos + i]);
    if (v < 0) return false;
    Out = (Out << 4) | static_cast<uint64_t>(v);
  }
  return true;
}
}  // namespace

TGUID StringToGUIDA(const std::string& Text) {
  if (Text.empty()) return TGUID{};
  // {8-4-4-4-12}: 38 characters.
  const bool shape = Text.size() == 38 && Text[0] == '{' && Text[37] == '}' && Text[9] == '-' &&
                     Text[14] == '-' && Text[19] == '-' && Text[24] == '-';
  TGUID g;
  uint64_t v = 0;
  bool ok = shape && ReadHex(Text, 1, 8, v);
  g.D1 = static_cast<uint32_t>(v);
  ok = ok && ReadHex(Text, 10, 4, v);
  g.D2 = static_cast<uint16_t>(v);
  ok = ok && ReadHex(Text, 15, 4, v);
  g.D3 = static_cast<uint16_t>(v);
  static constexpr size_t kD4Pos[8] = {20, 22, 25, 27, 29, 31, 33, 35};
  for (size_t i = 0; ok && i < 8; ++i) {
    ok = ReadHex(Text, kD4Pos[i], 2, v);
    g.D4[i] = static_cast<uint8_t>(v);
  }
  if (!ok) throw EKzConvertError("'" + Text.substr(0, 64) + "' is not a valid GUID value");
  return g;
}

std::string GUIDToStringA(const TGUID& G) {
  char buf[40];
  snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", G.D1, G.D2, G.D3, G.D4[0], G.D4[1],
           G.D4[2], G.D4[3], G.D4[4], G.D4[5], G.D4[6], G.D4[7]);
  return buf;
}

TGUID KzCreateGUID() {
  thread_local std::mt19937_64 rng{std::random_device{}()};
  uint8_t b[16];
  for (int i = 0; i < 16; i += 8) {
    uint64_t r = rng();
    memcpy(b + i, &r, 8);
  }
  b[7] = static_cast<uint8_t>((b[7] & 0x0F) | 0x40);  // version 4, as D3's high nibble
  b[8] = static_cast<uint8_t>((b[8] & 0x3F) | 0x80);  // variant
  return GUIDFromBytes(b);
}

void GUIDToBytes(const TGUID& G, uint8_t* Out) {
  for (int i = 0; i < 4; ++i) Out[i] = static_cast<uint8_t>(G.D1 >> (8 * i));
  Out[4] = static_cast<uint8_t>(G.D2);
  Out[5] = static_cast<uint8_t>(G.D2 >> 8);
  Out[6] = static_cast<uint8_t>(G.D3);
  Out[7] = static_cast<uint8_t>(G.D3 >> 8);
  for (int i = 0; i < 8; ++i) Out[8 + i] = G.D4[i];
}

TGUID GUIDFromBytes(const uint8_t* In) {
  TGUID g;
  g.D1 = static_cast<uint32_t>(In[0]) | static_cast<uint32_t>(In[1]) << 8 | static_cast<uint32_t>(In[2]) << 16 |
         static_cast<uint32_t>(In[3]) << 24;
  g.D2 = static_cast<uint16_t>(In[4] | In[5] << 8);
  g.D3 = static_cast<uint16_t>(In[6] | In[7] << 8);
  for (int i = 0; i < 8; ++i) g.D4[i] = In[8 + i];
  return g;
}

size_t TGUIDHash::operator()(const TGUID& G) const noexcept {
  uint8_t b[16];
  GUIDToBytes(G, b);
  uint64_t lo, hi;
  memcpy(&lo, b, 8);
  memcpy(&hi, b + 8, 8);
  return std::hash<uint64_t>{}(lo ^ (hi * 0x9E3779B97F4A7C15ull));
}

}  // namespace kz
