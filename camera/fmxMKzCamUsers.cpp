#include "camera/fmxMKzCamUsers.h"

namespace kz {

void TKzCamUserCollection::Assign(const TPersistent& Source) {
  if (const auto* s = dynamic_cast<const TKzCamUserCollection*>(&Source)) FItems = s->FItems;
}

int32_t TKzCamUserCollection::FindUser(const std::string& Name) const {
  for (size_t i = 0; i < FItems.size(); ++i)
    if (FItems[i].UserName == Name) return static_cast<int32_t>(i);
  return -1;
}

int32_t TKzCamUserCollection::AddUser(const std::string& Name, const std::string& Password, TKzUserAccess Access) {
  TKzCamUser& u = FItems.emplace_back();
  u.UserName = u.OldUserName = Name;
  u.Password = u.OldPassword = Password;
  u.Access = u.OldAccess = Access;
  const int32_t index = Count() - 1;
  if (OnAppend) OnAppend(index);
  return index;
}

void TKzCamUserCollection::ModifyUser(int32_t Index, const std::string& Name, TKzUserAccess Access,
                                      const std::string& Password) {
  if (Index < 0 || Index >= Count()) return;
  BeginUpdate();
  TKzCamUser& u = (*this)[Index];
  u.OldUserName = u.UserName;
  u.OldPassword = u.Password;
  u.OldAccess = u.Access;
  u.UserName = Name;
  u.Password = Password;
  u.Access = Access;
  FModified = Index;
  EndUpdate();
}

void TKzCamUserCollection::EndUpdate() {
  if (FUpdateCount > 0 && --FUpdateCount == 0 && FModified >= 0) {
    const int32_t index = FModified;
    FModified = -1;
    if (OnModify) OnModify(index);
  }
}

void TKzCamUserCollection::Delete(int32_t Index) {
  if (Index < 0 || Index >= Count()) return;
  if (OnRemove) OnRemove(Index);
  FItems.erase(FItems.begin() + Index);
}

}  // namespace kz
