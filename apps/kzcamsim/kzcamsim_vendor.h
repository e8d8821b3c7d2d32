// kzcamsim's vendor modes: the synthetic camera answers one camera maker's
// HTTP command interface (Foscam's two CGI sets, Panasonic, D-Link, Axis,
// Mobotix) from a table of paths and reply shapes, keeps the settings that
// sets change and gets report, its users with the vendor's own levels, an
// LED and a pan/tilt position that moves while a move is active, refuses
// in the vendor's way and logs every request with its user and verdict.
#pragma once
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "apps/kzcamsim/kzcamsim_lib.h"

namespace kzcamsim {

// What the server sends back for a request in a vendor mode.
struct TKzSimVendorAnswer {
  int32_t Status = 200;
  std::string Body;
  std::string Type = "text/plain";
  std::string Extra = {};  // more header lines ("Name: value\r\n")
  bool Stream = false;  // serve the Motion-JPEG stream instead
  bool Still = false;   // serve one picture instead
};

// The vendors kzcamsim can play: "foscam", "foscam-hd", "panasonic",
// "dlink", "axis", "mobotix". Several at once ("foscam-hd,axis") answer on
// one port: a request goes to the first mode that knows its path.
const std::vector<std::string>& KzSimVendorNames();

class TKzSimVendor {
public:
  // Null when Options.Vendor is empty or unknown (Error says why) or a
  // --user entry is malformed.
  static std::unique_ptr<TKzSimVendor> Make(const TKzSimOptions& Options, std::string* Error = nullptr);
  ~TKzSimVendor();

  // One request. Any server thread.
  TKzSimVendorAnswer Handle(const TKzSimRequest& Request);

  // "user verdict target" per request (the last 4096); verdicts: ok,
  // unauthorized, denied, unknown, bad. Any thread.
  std::vector<std::string> Log() const;
  void ClearLog();
  // A setting as the camera holds it ("source.key", e.g.
  // "get_params.ip"); "pan", "tilt" (degrees, now), "led" too. "" when none.
  std::string Value(const std::string& Key) const;
  // The users as "name:password:level".
  std::vector<std::string> Users() const;
  // The Motion-JPEG path of this camera ("" for a D-Link model on no list).
  std::string StreamPath() const;

  struct TImpl;

private:
  explicit TKzSimVendor(std::vector<std::unique_ptr<TImpl>> Modes);
  std::vector<std::unique_ptr<TImpl>> FModes;  // the first keeps the log
  TImpl* F;
};

}  // namespace kzcamsim
