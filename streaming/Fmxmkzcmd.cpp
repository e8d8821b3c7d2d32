#include "streaming/Fmxmkzcmd.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "foundation/fmxMKzByteOrder.h"

namespace kz {

namespace {

constexpr size_t kMaxByteField = 255;

std::vector<uint8_t> Bytes64(uint64_t V) {
  std::vector<uint8_t> b(8);
  KzPutLE<uint64_t>(b.data(), V);
  return b;
}

void WriteShortText(TStream& Stream, const std::string& Text) {
  const uint8_t n = static_cast<uint8_t>(std::min(Text.size(), kMaxByteField));
  Stream.Write(&n, 1);
  Stream.Write(Text.data(), n);
}

// Reads Count bytes when the stream still holds them.
bool ReadField(TStream& Stream, void* Out, int64_t Count) {
  if (Stream.Size() - Stream.Position() < Count) return false;
  return Stream.Read(Out, Count) == Count;
}

bool ReadShortText(TStream& Stream, std::string& Text) {
  uint8_t n = 0;
  if (!ReadField(Stream, &n, 1)) return false;
  std::string t(n, '\0');
  if (!ReadField(Stream, t.data(), n)) return false;
  Text = std::move(t);
  return true;
}

}  // namespace

void TKzCmdParamItem::SetString(const std::string& Value) {
  ParamType = TKzParamType::kzptString;
  FValue.assign(Value.begin(), Value.end());
}

void TKzCmdParamItem::SetInteger(int64_t Value) {
  ParamType = TKzParamType::kzptInteger;
  FValue = Bytes64(static_cast<uint64_t>(Value));
}

void TKzCmdParamItem::SetFloat(double Value) {
  ParamType = TKzParamType::kzptFloat;
  FValue = Bytes64(std::bit_cast<uint64_t>(Value));
}

void TKzCmdParamItem::SetDateTime(TDateTime Value) {
  ParamType = TKzParamType::kzptDateTime;
  FValue = Bytes64(std::bit_cast<uint64_t>(Value));
}

void TKzCmdParamItem::SetBoolean(bool Value) {
  ParamType = TKzParamType::kzptBoolean;
  FValue.assign(1, Value ? 1 : 0);
}

void TKzCmdParamItem::SetBin(const std::vector<uint8_t>& Value) {
  ParamType = TKzParamType::kzptBin;
  FValue = Value;
}

std::string TKzCmdParamItem::AsString() const { return std::string(FValue.begin(), FValue.end()); }

int64_t TKzCmdParamItem::AsInteger(int64_t Default) const {
  return FValue.size() == 8 ? KzGetLE<int64_t>(FValue.data()) : Default;
}

double TKzCmdParamItem::AsFloat(double Default) const {
  return FValue.size() == 8 ? std::bit_cast<double>(KzGetLE<uint64_t>(FValue.data())) : Default;
}

TDateTime TKzCmdParamItem::AsDateTime(TDateTime Default) const { return AsFloat(Default); }

bool TKzCmdParamItem::AsBoolean(bool Default) const { return FValue.size() == 1 ? FValue[0] != 0 : Default; }

void TKzCmdParamItem::WriteStream(TStream& Stream) const {
  Stream.Write(FValue.data(), static_cast<int64_t>(FValue.size()));
}

bool TKzCmdParamItem::ReadStream(TStream& Stream, uint32_t Count) {
  if (Stream.Size() - Stream.Position() < static_cast<int64_t>(Count)) return false;  // before allocating
  std::vector<uint8_t> v(Count);
  if (!ReadField(Stream, v.data(), Count)) return false;
  FValue = std::move(v);
  return true;
}

TKzCmdParamItem* TKzCmd::ParamByName(const std::string& ParamName) {
  for (TKzCmdParamItem& p : Params)
    if (p.Name == ParamName) return &p;
  return nullptr;
}

const TKzCmdParamItem* TKzCmd::ParamByName(const std::string& ParamName) const {
  return const_cast<TKzCmd*>(this)->ParamByName(ParamName);
}

TKzCmdParamItem& TKzCmd::AddParam(const std::string& ParamName) {
  Params.emplace_back();
  Params.back().Name = ParamName;
  return Params.back();
}

std::string TKzCmd::GetAsStringSafe(const std::string& ParamName) const {
  const TKzCmdParamItem* p = ParamByName(ParamName);
  return p ? p->AsString() : std::string();
}

int64_t TKzCmd::GetAsIntegerSafe(const std::string& ParamName, int64_t Default) const {
  const TKzCmdParamItem* p = ParamByName(ParamName);
  return p ? p->AsInteger(Default) : Default;
}

bool TKzCmd::GetAsBooleanSafe(const std::string& ParamName, bool Default) const {
  const TKzCmdParamItem* p = ParamByName(ParamName);
  return p ? p->AsBoolean(Default) : Default;
}

void TKzCmd::SaveToStream(TStream& Stream) const {
  WriteShortText(Stream, Name);
  const size_t count = std::min(Params.size(), kMaxByteField);
  const uint8_t c = static_cast<uint8_t>(count);
  Stream.Write(&c, 1);
  for (size_t i = 0; i < count; ++i) {
    const TKzCmdParamItem& p = Params[i];
    WriteShortText(Stream, p.Name);
    uint8_t head[5];
    head[0] = static_cast<uint8_t>(p.ParamType);
    KzPutLE<uint32_t>(head + 1, p.GetValueSize());
    Stream.Write(head, 5);
    p.WriteStream(Stream);
  }
}

bool TKzCmd::LoadFromStream(TStream& Stream) {
  Params.clear();
  uint8_t count = 0;
  bool ok = ReadShortText(Stream, Name) && ReadField(Stream, &count, 1);
  for (unsigned i = 0; ok && i < count; ++i) {
    TKzCmdParamItem p;
    uint8_t head[5];
    ok = ReadShortText(Stream, p.Name) && ReadField(Stream, head, 5);
    if (!ok) break;
    p.ParamType = static_cast<TKzParamType>(head[0]);
    // The value length is checked against what is left before anything is allocated.
    ok = p.ReadStream(Stream, KzGetLE<uint32_t>(head + 1));
    if (ok) Params.push_back(std::move(p));
  }
  if (!ok) Name.clear();
  return ok;
}

void KzSaveCmdPayload(const std::vector<TKzCmd>& Commands, TStream& Stream) {
  const size_t count = std::min(Commands.size(), kMaxByteField);
  const uint8_t c = static_cast<uint8_t>(count);
  Stream.Write(&c, 1);
  for (size_t i = 0; i < count; ++i) Commands[i].SaveToStream(Stream);
}

std::vector<TKzCmd> KzLoadCmdPayload(TStream& Stream) {
  std::vector<TKzCmd> out;
  uint8_t count = 0;
  if (!ReadField(Stream, &count, 1)) return out;
  for (unsigned i = 0; i < count; ++i) {
    out.emplace_back();
    if (!out.back().LoadFromStream(Stream)) break;
  }
  return out;
}

}  // namespace kz
