// The 16-byte source identity and its braced registry text form.
#pragma once
#include <array>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>

namespace kz {

struct TGUID {
  uint32_t D1 = 0;
  uint16_t D2 = 0;
  uint16_t D3 = 0;
  std::array<uint8_t, 8> D4{};

  bool operator==(const TGUID& o) const { return D1 == o.D1 && D2 == o.D2 && D3 == o.D3 && D4 == o.D4; }
  bool operator!=(const TGUID& o) const { return !(*this == o); }
};

// All functions: any thread, never block.
TGUID EmptyGUID();
bool IsNull(const TGUID& G);
bool CompareGUID(const TGUID& A, const TGUID& B);
// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" → GUID; "" gives the null GUID.
// Malformed text raises EKzConvertError on the caller's thread.
TGUID StringToGUIDA(const std::string& Text);
// Upper-case registry form.
std::string GUIDToStringA(const TGUID& G);
inline TGUID ConvertGUID(const std::string& Text) { return StringToGUIDA(Text); }
inline std::string ConvertGUIDToStr(const TGUID& G) { return GUIDToStringA(G); }
// A fresh random identity.
TGUID KzCreateGUID();

// Wire form: D1, D2, D3 little-endian, then D4 as it stands (16 bytes).
void GUIDToBytes(const TGUID& G, uint8_t* Out16);
TGUID GUIDFromBytes(const uint8_t* In16);

struct TGUIDHash {
  size_t operator()(const TGUID& G) const noexcept;
};

}  // namespace kz
