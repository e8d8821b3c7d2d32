// The shared part of the vendor interfaces: a vendor is described by
// tables (which command reads which keys into which camera fields, which
// parameters a write sends, single properties, device operations, moves,
// colour ranges, what each group offers) and TKzTableVendor walks them.
// A vendor class adds only what its tables cannot say (streams, users).
//
// Values put into a query are percent-encoded once (all but RFC 3986
// unreserved characters), so a value can never add a parameter; credentials
// in a URL's user part are encoded the same way.
#pragma once
#include <string>
#include <utility>
#include <vector>

#include "camera/fmxMKzCamFields.h"
#include "camera/fmxMKzIPCameraAPI.h"

namespace kz {

// How a vendor's replies carry their values.
enum class TKzReplyForm : uint8_t {
  kzrfVars,   // var name=value; (a value ends at ";" or its line's end)
  kzrfXML,    // <name>value</name>
  kzrfLines,  // name=value lines
  kzrfPairs,  // name=value pairs split at "&", ",", CR or LF
};
bool KzReplyHas(TKzReplyForm Form, const std::string& Text, const std::string& Key);
std::string KzReplyGet(TKzReplyForm Form, const std::string& Text, const std::string& Key);

// A value as the vendor writes it and as the camera field holds it.
struct TKzCode {
  const char* Vendor;
  const char* Ours;
};
using TKzCodes = std::vector<TKzCode>;
// The vendor's text for a field value (Ours -> Vendor); Value when not listed.
std::string KzCodeToVendor(const TKzCodes* Codes, const std::string& Value);
// The field value for a vendor's text; Value when not listed.
std::string KzCodeFromVendor(const TKzCodes* Codes, const std::string& Value);

// One value: a reply key read into a field, or a query parameter written
// from one. Schedule entries name Row and Day instead of a field.
struct TKzVendorValue {
  std::string Key = {};
  TKzCamField Field = TKzCamField::kzfNone;
  const char* Default = nullptr;  // read: used when the key is absent (else the field stays)
  const TKzCodes* Codes = nullptr;
  const char* Literal = nullptr;  // write: this text instead of the field's
  TKzCamField When = TKzCamField::kzfNone;  // write: only when this field is "1" (WhenSet) or not
  bool WhenSet = true;
  int ScheduleRow = -1, ScheduleDay = 0;
};

// A request: Command with a fixed Query, then the values.
struct TKzVendorRequest {
  std::string Command;
  std::string Query = {};
  std::vector<TKzVendorValue> Values = {};
};

struct TKzVendorGroup {
  TKzCamPropertyGroup Group;
  std::vector<TKzVendorRequest> Reads = {};   // all must answer
  std::vector<TKzVendorRequest> Writes = {};  // set URL n is Writes[n]
  // Reading first resets quality, focus, focus distance and resolution.
  bool ResetImage = false;
};

// A single property: Command with Query + the value's code (+ Suffix).
struct TKzVendorProperty {
  TKzCamProperty Property;
  std::string Command;
  std::string Query;
  const TKzCodes* Codes = nullptr;
  std::string Suffix = {};
};

// A device operation: Command with Query; WithParam appends the encoded
// parameter; Reply returns the reply text as the result.
struct TKzVendorMethod {
  TKzCamMethod Method;
  std::string Command;
  std::string Query = {};
  bool WithParam = false;
  bool Reply = false;
};

// A movement: its start request(s) and its stop ("" for none).
struct TKzVendorMove {
  TKzCamMovementEx Direction;
  std::string Command = {}, Query = {};
  std::string Command2 = {}, Query2 = {};
  std::string StopCommand = {}, StopQuery = {};
};

struct TKzVendorRange {
  TKzColorControlProperty Control;
  int32_t Min, Max, Default;
};

// How a vendor's command URLs are made and its replies judged.
struct TKzVendorDialect {
  TKzReplyForm Form;
  // The URL of Command with Query ("" or "a=1&b=2", values already encoded).
  std::string (*URL)(TKzCamera& Camera, const std::string& Command, const std::string& Query);
  // Whether a read reply carries values (its marker).
  bool (*Valid)(const std::string& Reply);
  // Whether a 2xx reply to a command means the camera did it.
  bool (*Accepted)(const std::string& Reply);
};

struct TKzVendorTables {
  TKzVendorDialect Dialect;
  std::vector<TKzVendorGroup> Groups;
  std::vector<std::pair<TKzCamPropertyGroup, TKzCamProperties>> Properties;
  std::vector<std::pair<TKzCamPropertyGroup, TKzCamMethods>> Methods;
  std::vector<TKzVendorProperty> SingleProperties;
  std::vector<TKzVendorMethod> Operations;
  std::vector<TKzVendorMove> Moves;
  std::vector<TKzVendorRange> Ranges;
  bool MoveTimer = false;  // the compass moves repeat until stopped
  std::vector<std::string> Secrets;
};

// ---- URL pieces shared by the vendors
// Host with ":" and the port unless it is the HTTP default.
std::string KzVendorHost(const TKzCamera& Camera);
// "user:password@" (each percent-encoded), "" without a user name.
std::string KzVendorUserPart(const TKzCamera& Camera);
// "rtsp://" + user part + host (":" RTSPPort when set) + Path.
std::string KzVendorRTSPURL(const TKzCamera& Camera, const std::string& Path);
// "http://" + user part + host + "/" + Command, then "?" + Query when there
// is one: the command URLs of Panasonic, D-Link and Mobotix.
std::string KzVendorPathURL(TKzCamera& Camera, const std::string& Command, const std::string& Query);
// "<UserKey>=user&<PasswordKey>=password", each percent-encoded: the
// credentials Foscam's command sets carry in the query.
std::string KzVendorQueryCredentials(const TKzCamera& Camera, const std::string& UserKey,
                                     const std::string& PasswordKey);
// A verdict that takes every reply.
bool KzVendorAnyReply(const std::string& Reply);
// "name=value" with Value percent-encoded.
std::string KzQueryParam(const std::string& Name, const std::string& Value);
// A and B joined with "&" (either may be empty).
std::string KzJoinQuery(const std::string& A, const std::string& B);

// The query that writes Request's values from Camera.
std::string KzVendorWriteQuery(TKzCamera& Camera, const TKzVendorRequest& Request);
// Stores Request's values read from Reply into Camera (under its command lock).
void KzVendorStoreReply(TKzCamera& Camera, TKzReplyForm Form, const TKzVendorRequest& Request,
                        const std::string& Reply);
// Performs the reads of Group and stores them. Blocks on the network.
bool KzVendorReadGroup(TKzCamera& Camera, const TKzVendorDialect& Dialect, const TKzVendorGroup& Group);

// A vendor served by its tables.
class TKzTableVendor : public TKzIPCameraVendor {
public:
  explicit TKzTableVendor(TKzVendorTables Tables) : FTables(std::move(Tables)) {}
  const TKzVendorTables& Tables() const { return FTables; }
  const TKzVendorGroup* FindGroup(TKzCamPropertyGroup Group) const;
  // Command URL of the vendor.
  std::string CommandURL(TKzCamera& Camera, const std::string& Command, const std::string& Query) const {
    return FTables.Dialect.URL(Camera, Command, Query);
  }

  TKzCamProperties GetAvailableProperties(TKzCamera&, TKzCamPropertyGroup Group) const override;
  TKzCamMethods GetAvailableMethods(TKzCamera&, TKzCamPropertyGroup Group) const override;
  TKzCamGetFunc GetGetFunc(TKzCamera&, TKzCamPropertyGroup Group) const override;
  TKzCamSetURLFunc GetSetURLFunc(TKzCamera&, TKzCamPropertyGroup Group) const override;
  bool CallMethod(TKzCamera& Camera, TKzCamMethod Method, const std::string& Param,
                  std::string& Result) const override;
  std::string SetPropURL(TKzCamera& Camera, TKzCamProperty Prop, const std::string& Value) const override;
  bool GetColorControlPropertyRange(TKzCamera&, TKzColorControlProperty Prop, int32_t& MinValue,
                                    int32_t& MaxValue, int32_t& DefValue, int32_t& Step) const override;
  void GetMoveURLs(TKzCamera& Camera, TKzCamMovementEx Direction, std::string& URL1,
                   std::string& URL2) const override;
  std::string GetStopURL(TKzCamera& Camera, TKzCamMovementEx Direction) const override;
  bool NeedsMoveTimer(TKzCamera&, TKzCamMovementEx Direction) const override;
  bool IsReplyAccepted(const std::string& URL, const std::string& Body) const override;
  std::vector<std::string> SecretParameters() const override { return FTables.Secrets; }

protected:
  // Performs URL and gives its reply. Blocks on the network.
  static bool Fetch(TKzCamera& Camera, const std::string& URL, std::string& Reply);
  // The get function of a vendor that reports only the brightness: one
  // request to URL(Camera); Parse finds the value (Current: the camera's now).
  static TKzCamGetFunc BrightnessGetter(std::string (*URL)(TKzCamera& Camera),
                                        bool (*Parse)(const std::string& Reply, int32_t Current, int32_t& Value));

private:
  TKzVendorTables FTables;
};

// The built-in vendor rows (the vendor table starts with them). Any thread.
std::vector<std::pair<TKzIPCamAPIType, const TKzIPCameraVendor*>> KzBuiltinVendors();

}  // namespace kz
