// The vendor control interfaces of network cameras behind one set of
// operations that take the camera first: reading a settings group from the
// camera, the URLs that write a group or one property, device operations,
// pan/tilt move and stop URLs, stream URLs and user changes.
//
// Each vendor family is an object derived from TKzIPCameraVendor, kept in
// a table by TKzIPCamAPIType; the base answers every question with
// "unsupported" (empty URL, empty set, false). GetAPIType picks the table
// row for a camera; without a row, or with an unregistered one, every
// operation answers as unsupported and nothing is sent.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "camera/fmxMKzCamCommands.h"
#include "camera/fmxMKzCamParamTypes.h"

namespace kz {

class TKzCamera;

// Reads a group from the camera into the camera component; Aborted tells
// that the camera was aborted meanwhile. Blocks on the network.
using TKzCamGetFunc = std::function<bool(TKzCamera& Camera, bool& Aborted)>;
// The Index-th URL that writes a group ("" when there are no more).
using TKzCamSetURLFunc = std::function<void(TKzCamera& Camera, int32_t Index, std::string& URL)>;

// One vendor family. Vendors keep no state: the operations read the camera
// and return URLs, or perform requests through the camera's ExecuteStr.
// Main thread unless said otherwise.
class TKzIPCameraVendor {
public:
  virtual ~TKzIPCameraVendor() = default;
  virtual TKzCamProperties GetAvailableProperties(TKzCamera&, TKzCamPropertyGroup) const { return {}; }
  virtual TKzCamMethods GetAvailableMethods(TKzCamera&, TKzCamPropertyGroup) const { return {}; }
  virtual TKzCamGetFunc GetGetFunc(TKzCamera&, TKzCamPropertyGroup) const { return nullptr; }
  virtual TKzCamSetURLFunc GetSetURLFunc(TKzCamera&, TKzCamPropertyGroup) const { return nullptr; }
  // Blocks on the network.
  virtual bool CallMethod(TKzCamera&, TKzCamMethod, const std::string& Param, std::string& Result) const {
    (void)Param;
    (void)Result;
    return false;
  }
  virtual std::string SetPropURL(TKzCamera&, TKzCamProperty, const std::string& Value) const {
    (void)Value;
    return "";
  }
  virtual std::string GetMJpegURL(TKzCamera&) const { return ""; }
  virtual std::string GetH264URL(TKzCamera&) const { return ""; }
  virtual bool GetColorControlPropertyRange(TKzCamera&, TKzColorControlProperty, int32_t& MinValue,
                                            int32_t& MaxValue, int32_t& DefValue, int32_t& Step) const {
    MinValue = MaxValue = DefValue = Step = 0;
    return false;
  }
  virtual void GetMoveURLs(TKzCamera&, TKzCamMovementEx, std::string& URL1, std::string& URL2) const {
    URL1.clear();
    URL2.clear();
  }
  virtual std::string GetStopURL(TKzCamera&, TKzCamMovementEx) const { return ""; }
  // The requests of a move and a stop: by default GETs of the URLs above;
  // vendors whose commands are not GETs give their own.
  virtual void GetMoveRequests(TKzCamera& Camera, TKzCamMovementEx Direction, TKzCamRequest& Request1,
                               TKzCamRequest& Request2) const {
    std::string a, b;
    GetMoveURLs(Camera, Direction, a, b);
    Request1 = TKzCamRequest(a);
    Request2 = TKzCamRequest(b);
  }
  virtual TKzCamRequest GetStopRequest(TKzCamera& Camera, TKzCamMovementEx Direction) const {
    return TKzCamRequest(GetStopURL(Camera, Direction));
  }
  // The move is repeated while held and stopped by the caller.
  virtual bool NeedsMoveTimer(TKzCamera&, TKzCamMovementEx) const { return false; }
  // While a move is held, it is sent again at most this often (0: on every
  // tick of the movement timer).
  virtual uint32_t MoveRepeatMs(TKzCamera&) const { return 0; }
  // Blocks on the network.
  virtual bool ChangeUsers(TKzCamera&, TKzCollectionItemOperation, int32_t Index) const {
    (void)Index;
    return false;
  }
  // Whether a 2xx reply to a command means the camera did it (some answer
  // 200 with a refusal in the body). The command's thread; never blocks.
  virtual bool IsReplyAccepted(const std::string& URL, const std::string& Body) const {
    (void)URL;
    (void)Body;
    return true;
  }
  // Names of URL parameters whose values are secrets (redacted from every
  // text the library shows).
  virtual std::vector<std::string> SecretParameters() const { return {}; }
};

// The class-level operations. Each first asks GetAPIType and answers as
// unsupported when it fails. Main thread unless said otherwise.
class TKzIPCameraAPI {
public:
  // Installs Vendor as the row of Type (null: none) and returns the row it
  // replaces; its secret parameters are added to the redacted names.
  // Main thread, before cameras use the row.
  static const TKzIPCameraVendor* RegisterVendor(TKzIPCamAPIType Type, const TKzIPCameraVendor* Vendor);
  // The vendor row of Camera: false for an absent camera, a device that is
  // not an IP camera, locked commands or unknown vendor families.
  static bool GetAPIType(const TKzCamera* Camera, TKzIPCamAPIType& APIType);
  // The registered vendor object of Camera, or null.
  static const TKzIPCameraVendor* GetVendor(const TKzCamera* Camera);

  static TKzCamProperties GetAvailableProperties(TKzCamera& Camera, TKzCamPropertyGroup Group);
  static TKzCamMethods GetAvailableMethods(TKzCamera& Camera, TKzCamPropertyGroup Group);
  // The available ones reduced by the user's access level.
  static TKzCamProperties GetAccessibleProperties(TKzCamera& Camera, TKzCamPropertyGroup Group);
  static TKzCamMethods GetAccessibleMethods(TKzCamera& Camera, TKzCamPropertyGroup Group);
  static TKzCamGetFunc GetGetFunc(TKzCamera& Camera, TKzCamPropertyGroup Group);
  static TKzCamSetURLFunc GetSetURLFunc(TKzCamera& Camera, TKzCamPropertyGroup Group);
  // Runs the get function; false without one. Blocks on the network.
  static bool GetFromCamera(TKzCamera& Camera, TKzCamPropertyGroup Group);
  static std::string SetToCameraURL(TKzCamera& Camera, TKzCamPropertyGroup Group, int32_t Index);
  // Clears Result first. Blocks on the network.
  static bool CallMethod(TKzCamera& Camera, TKzCamMethod Method, const std::string& Param, std::string& Result);
  static std::string SetPropURL(TKzCamera& Camera, TKzCamProperty Prop, const std::string& Value);
  static std::string GetMJpegURL(TKzCamera& Camera);
  static std::string GetH264URL(TKzCamera& Camera);
  static bool GetColorControlPropertyRange(TKzCamera& Camera, TKzColorControlProperty Prop, int32_t& MinValue,
                                           int32_t& MaxValue, int32_t& DefValue, int32_t& Step);
  static void GetMoveURLs(TKzCamera& Camera, TKzCamMovementEx Direction, std::string& URL1, std::string& URL2);
  static std::string GetStopURL(TKzCamera& Camera, TKzCamMovementEx Direction);
  static void GetMoveRequests(TKzCamera& Camera, TKzCamMovementEx Direction, TKzCamRequest& Request1,
                              TKzCamRequest& Request2);
  static TKzCamRequest GetStopRequest(TKzCamera& Camera, TKzCamMovementEx Direction);
  static bool NeedsMoveTimer(TKzCamera& Camera, TKzCamMovementEx Direction);
  static uint32_t MoveRepeatMs(TKzCamera& Camera);
  // Blocks on the network.
  static bool ChangeUsers(TKzCamera& Camera, TKzCollectionItemOperation Operation, int32_t Index);
};

}  // namespace kz
