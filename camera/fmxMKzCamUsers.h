// The user accounts of a network camera as the camera component keeps
// them. Every change of the collection is told through OnAppend, OnModify
// and OnRemove (the camera passes it on to the vendor interface).
// Main thread, never blocks (the hooks may block on the network).
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "camera/fmxMKzCamParameters.h"

namespace kz {

class TKzCamUser : public TKzBaseItem {
public:
  using TKzBaseItem::TKzBaseItem;
  std::string UserName;
  std::string Password;
  TKzUserAccess Access = TKzUserAccess::uaNone;
  // The values before the last modification (for the vendor's modify command).
  std::string OldUserName;
  std::string OldPassword;
  TKzUserAccess OldAccess = TKzUserAccess::uaNone;
};

class TKzCamUserCollection : public TPersistent {
public:
  // Index of the user concerned.
  using TKzUserChangeEvent = std::function<void(int32_t Index)>;

  // Copies the users; the notifications stay those of this collection.
  void Assign(const TPersistent& Source) override;

  int32_t Count() const { return static_cast<int32_t>(FItems.size()); }
  TKzCamUser& operator[](int32_t Index) { return FItems.at(static_cast<size_t>(Index)); }
  const TKzCamUser& operator[](int32_t Index) const { return FItems.at(static_cast<size_t>(Index)); }
  // Index of the user named Name (letter case counts), -1 when none is.
  int32_t FindUser(const std::string& Name) const;
  // Appends a user and tells OnAppend; returns its index.
  int32_t AddUser(const std::string& Name, const std::string& Password, TKzUserAccess Access);
  // Changes user Index (the old values are kept) inside one update bracket
  // and tells OnModify once.
  void ModifyUser(int32_t Index, const std::string& Name, TKzUserAccess Access, const std::string& Password);
  // Tells OnRemove, then removes user Index.
  void Delete(int32_t Index);
  // Replaces the users without telling anything (values read from the camera).
  void InitUsers(std::vector<TKzCamUser> Users) { FItems = std::move(Users); }
  void Clear() { FItems.clear(); }

  void BeginUpdate() { ++FUpdateCount; }
  // The last EndUpdate tells OnModify for the user changed inside the bracket.
  void EndUpdate();

  TKzUserChangeEvent OnAppend;
  TKzUserChangeEvent OnModify;
  TKzUserChangeEvent OnRemove;

private:
  std::vector<TKzCamUser> FItems;
  int32_t FUpdateCount = 0;
  int32_t FModified = -1;
};

}  // namespace kz
