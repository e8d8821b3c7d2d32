// Readers of camera vendors' replies, apart from the requests: verdicts,
// user lists and the few values that are not plain key lookups. Each takes
// any text (empty, truncated, another vendor's, megabytes long) and answers
// with a default or false, never more. Any thread, never block.
#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "camera/fmxMKzCameraTypes.h"

namespace kz {

using TKzVendorUsers = std::vector<std::pair<std::string, TKzUserAccess>>;
// Users with their passwords, as a Foscam camera lists them.
struct TKzVendorUser {
  std::string Name, Password;
  TKzUserAccess Access = TKzUserAccess::uaVisitor;
};

// ---- Foscam, older CGI set ("var name=value;" lines)
// A reply that carries values: not empty and not an HTML page.
bool KzFoscamReplyValid(const std::string& Reply);
// Slots "user<n>_name", "_pwd", "_pri" for n = 1, 2, ... while present;
// privilege 2 administrator, 1 operator, else visitor.
std::vector<TKzVendorUser> KzFoscamUsers(const std::string& Reply);

// ---- Foscam, CGIProxy.fcgi ("<CGI_Result>" documents)
// The <result> of a "<CGI_Result>" document; -100 without one.
int32_t KzFoscamHDResult(const std::string& Reply);
bool KzFoscamHDReplyValid(const std::string& Reply);
// "usrCnt", then "usr<n>" values "name+privilege" (1 operator, 2 administrator, else visitor).
TKzVendorUsers KzFoscamHDUsers(const std::string& Reply);

// ---- Panasonic: the "Data" of a name=value pair reply; Default when absent or not a number.
int32_t KzPanasonicData(const std::string& Reply, int32_t Default);

// ---- D-Link
// The text between "<product>" and "</product>"; "" without both.
std::string KzDLinkProduct(const std::string& Reply);
// The model list (1..6) that holds Model (upper case, exact); 0 for none.
int32_t KzDLinkModelIndex(const std::string& Model);

// ---- Axis
// A parameter list: its lower-case form mentions "properties".
bool KzAxisParamsValid(const std::string& Reply);
// Users of a "pwdgrp" listing: each name once, with the access of the first
// group (admin, operator, ptz, viewer, anonymous) that lists it.
TKzVendorUsers KzAxisUsers(const std::string& Reply);

// ---- Mobotix: a reply starting "brightness=" and a number up to the first
// blank, CR or LF. False (Value 0) otherwise.
bool KzMobotixBrightness(const std::string& Reply, int32_t& Value);

}  // namespace kz
