// The rows of kzcamsim's vendor modes (kzcamsim_vendor_table.cpp) and the
// kinds of request the engine (kzcamsim_vendor.cpp) answers.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace kzcamsim {

enum class TKzSimKind : uint8_t {
  kzskGet,          // renders the entries of source Keys (the row's Cmd when empty)
  kzskSet,          // "param>source.key" and "@source." (every param to source.param); "param>" ignores it
  kzskAction,       // answers success; Keys "key=value" stored first (or nothing)
  kzskParamValue,   // the value of param "param" picks the key ("N>source.key"), "value" is stored
  kzskMove,         // "param|value:action ..." or "=action" for a command of its own
  kzskStream,       // Motion-JPEG
  kzskUsersSet,     // Foscam user slots user<n>, pwd<n>, pri<n>
  kzskUserAdd,      // usrName, usrPwd, privilege
  kzskUserDelete,   // usrName
  kzskUserChange,   // usrName, newUsrName, oldPwd, newPwd
  kzskUserList,     // usrCnt and usr<n> = name+privilege
  kzskUserPassword, // password of usrName
  kzskAxisUsers,    // pwdgrp: action get, add, remove, update
  kzskStep,         // relative step of a value: Keys "param>source.key", values 4 down, 5 middle, 6 up
  kzskDescribe,     // the device description naming the model
  kzskPage,         // a fixed page: Keys "level:text|level:text", the parts the asker's level reaches
  kzskStill,        // one JPEG picture
};

// Vendor levels: 1 visitor, 2 operator, 3 administrator; 0: anybody, without credentials.
struct TKzSimRow {
  const char* Vendor;
  const char* Path;
  const char* Cmd;  // foscam-hd: the cmd; else a parameter that must be there ("name" or "name=value"), or ""
  TKzSimKind Kind;
  int32_t Level;
  const char* Keys;
  const char* Cite;  // the vendor document and section the row follows
};

// A setting the camera starts with: Source is the get command that reports it.
struct TKzSimSetting {
  const char* Vendor;
  const char* Source;
  const char* Key;
  const char* Value;
};

// How a vendor spells its user levels on --user ("name:password:level").
struct TKzSimLevel {
  const char* Vendor;
  const char* Name;
  int32_t Level;
};

const std::vector<TKzSimRow>& KzSimVendorRows();
const std::vector<TKzSimSetting>& KzSimVendorSettings();
const std::vector<TKzSimLevel>& KzSimVendorLevels();

}  // namespace kzcamsim
