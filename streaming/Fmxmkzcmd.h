// Commands that travel as command payloads. A command payload is a count
// byte C followed by C serialised commands; one command is
//
//   name length (1), name (8-bit), parameter count (1), then per parameter:
//   name length (1), name, type (1, TKzParamType), value length V (32), V bytes
//
// Values: string - its 8-bit characters; integer - 64-bit signed; float and
// date-time - IEEE double (date-time: days since 30 December 1899, the time
// as the fraction); boolean - one byte 1 or 0; binary - the bytes.
//
// A command is one object for one thread at a time; nothing blocks.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "foundation/fmxMKzType.h"
#include "platform/fmxMKzPlatformStream.h"

namespace kz {

enum class TKzParamType : uint8_t {
  kzptNone = 0,
  kzptString = 1,
  kzptInteger = 2,
  kzptFloat = 3,
  kzptDateTime = 4,
  kzptBin = 5,
  kzptBoolean = 6
};

using TDateTime = double;

class TKzCmdParamItem {
public:
  std::string Name;
  TKzParamType ParamType = TKzParamType::kzptNone;

  void SetString(const std::string& Value);
  void SetInteger(int64_t Value);
  void SetFloat(double Value);
  void SetDateTime(TDateTime Value);
  void SetBoolean(bool Value);
  void SetBin(const std::vector<uint8_t>& Value);
  // The value read as a type; a value whose size does not fit the type
  // (8 bytes for numbers and times, 1 for a boolean) reads as the fallback.
  std::string AsString() const;
  int64_t AsInteger(int64_t Default = 0) const;
  double AsFloat(double Default = 0) const;
  TDateTime AsDateTime(TDateTime Default = 0) const;
  bool AsBoolean(bool Default = false) const;
  const std::vector<uint8_t>& Value() const { return FValue; }
  uint32_t GetValueSize() const { return static_cast<uint32_t>(FValue.size()); }
  // The value bytes to / from a stream (Count bytes at its position).
  void WriteStream(TStream& Stream) const;
  bool ReadStream(TStream& Stream, uint32_t Count);

private:
  std::vector<uint8_t> FValue;
};

class TKzCmd {
public:
  std::string Name;  // empty: a command cut short, which consumers ignore
  std::vector<TKzCmdParamItem> Params;
  TKzSessionKey SessionKey = 0;  // neither is serialised
  uint16_t MediaIndex = 0;

  // The parameter of that name, null when there is none.
  TKzCmdParamItem* ParamByName(const std::string& ParamName);
  const TKzCmdParamItem* ParamByName(const std::string& ParamName) const;
  TKzCmdParamItem& AddParam(const std::string& ParamName);
  std::string GetAsStringSafe(const std::string& ParamName) const;
  int64_t GetAsIntegerSafe(const std::string& ParamName, int64_t Default) const;
  bool GetAsBooleanSafe(const std::string& ParamName, bool Default) const;

  // Writes one serialised command at the stream's position. Names longer
  // than 255 bytes and parameters past the 255th are cut: the length and
  // count fields are one byte each.
  void SaveToStream(TStream& Stream) const;
  // Reads one serialised command. A field that does not fit in what the
  // stream still holds stops the reading: the name becomes empty, the
  // parameters read so far stay, and false is returned.
  bool LoadFromStream(TStream& Stream);
};

// A command payload of Commands (its count the true number; at most 255).
void KzSaveCmdPayload(const std::vector<TKzCmd>& Commands, TStream& Stream);
// The commands of a payload; reading stops at the first one cut short,
// which is returned with its empty name.
std::vector<TKzCmd> KzLoadCmdPayload(TStream& Stream);

}  // namespace kz
