// The vendors' reply parsers on any text: Foscam "var" lines and
// "<CGI_Result>" documents, Panasonic pairs, D-Link descriptions, Axis
// parameter lists and user groups, Mobotix values. No crash, bounded user
// lists, and values that never run past their separators.
#include <cstdint>
#include <set>
#include <string>

#include "camera/fmxMKzCamVendorReplies.h"
#include "camera/fmxMKzCamVendorTable.h"
#include "camera/fmxMKzCamVendors.h"
#include "kzfuzz.h"

using namespace kz;
using kzfuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  const std::string text = kzfuzz::Text(Data, Size);
  KzFoscamReplyValid(text);
  Check(KzFoscamUsers(text).size() <= 64 && KzFoscamHDUsers(text).size() <= 64);
  Check(KzFoscamHDReplyValid(text) == (KzFoscamHDResult(text) == 0));
  KzPanasonicData(text, 0);
  Check(KzReplyGet(TKzReplyForm::kzrfPairs, text, "Data").find_first_of("&,\r\n") == std::string::npos);
  const int32_t index = KzDLinkModelIndex(KzDLinkProduct(text));
  Check(index >= 0 && index <= 6 && TKzDLinkAPI::StreamPath(index).empty() == (index == 0));
  Check(KzReplyGet(TKzReplyForm::kzrfLines, text, "CameraName").find_first_of("\r\n") == std::string::npos);
  KzAxisParamsValid(text);
  std::set<std::string> names;
  for (const auto& [name, access] : KzAxisUsers(text)) Check(!name.empty() && names.insert(name).second);
  int32_t v = 1;
  Check(KzMobotixBrightness(text, v) || v == 0);
  for (const char* key : {"id", "alias", "user1_name", "ap_ssid[0]"}) KzReplyGet(TKzReplyForm::kzrfVars, text, key);
  for (const char* key : {"ip", "reciever", "usr1", "streamType"}) KzReplyGet(TKzReplyForm::kzrfXML, text, key);
  for (const char* key : {"Brand.ProdFullName", "brightness"}) KzReplyGet(TKzReplyForm::kzrfLines, text, key);
  return 0;
}
