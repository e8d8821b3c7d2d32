// The library's own HTTP/1.1 and RTSP/1.0 client over stream sockets, behind
// an internet-handle interface (open, connect, open request, send, query,
// read, set option, close). One record, TInet, holds all state of one
// exchange; the session, connection and request handles are that record at
// three levels. Open connections are pooled per host, names are cached, and
// idle pooled connections are closed by a 60-second house-keeping timer.
//
// Threads: a record is used by one thread at a time; any thread may own one.
// The operations block on the network within the limits of the record's
// time-out class, and every wait ends within one pause once *Abort is set.
// The main thread should not call the blocking operations.
#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "foundation/fmxMKzTypesThreads.h"
#include "inet/fmxMKzInetError.h"
#include "inet/fmxMKzInetReply.h"
#include "platform/fmxMKzPlatformSockets.h"
#include "platform/fmxMKzPlatformStream.h"

namespace kz {

enum class TKzTimeOut : uint8_t { kztShort = 0, kztMedium = 1, kztLong = 2, kztHuge = 3 };
enum class TKzConnectProtocol : uint8_t { kzcpHTTP = 0, kzcpRTSP = 1 };
enum class TKzRTSPTypeMedia : uint8_t { kzrtspVideo = 0, kzrtspAudio = 1 };
enum class TKzMTypeAuth : uint8_t { kzmttaUnknow = 0, kzmtaBasic = 1, kzmtaDigest = 2 };

// Authentication state for the server or the proxy.
struct TKzMHeaderInfo {
  std::string UserName, Password;
  std::string realm, algorithm, qop, nonce, cnonce;
  std::string opaque;  // sent back unchanged when the challenge had one
  int32_t nc = 0;      // requests answered with the current nonce
  TKzMTypeAuth TypeAuth = TKzMTypeAuth::kzmttaUnknow;
  int32_t TryCount = 0;
  // Proxy challenges keep their values as received for the proxy line.
  std::string realmRaw, nonceRaw, qopRaw;
};

// One media channel of an RTSP session.
struct TKzMChannelRTSP {
  std::string TypeMedia;  // "video", "audio", ...
  std::string Control;    // the SDP control attribute
  std::string Transport;  // from the SETUP reply
  int32_t ClientPort = 0;
  int32_t ServerPort = 0;
  int32_t Index = -1;
  bool IsPlay = false;
};

// The nine values of a time-out class.
struct TKzTimeOutValues {
  int32_t cOPEN_CONNECT = 0;  // sockets opened in parallel to a host
  int32_t cTRY_READ = 0;      // reconnections allowed during one body read
  int32_t cADD_CONNECT = 0;
  int32_t cKzINET_CONNECT_TIMEOUT = 0;  // ms
  int32_t cKzINET_CONNECT_TRY = 0;      // poll rounds per connect
  int32_t cKzINET_WAIT_RECV = 0;        // ms
  int32_t cKzINET_WAIT_SEND = 0;        // ms
  int32_t cKzINET_SLEEP_TIME = 0;       // pause between receive attempts, ms
  int32_t cKzINET_READ_TRY = 0;
};
// Indexed by TKzTimeOut.
extern const TKzTimeOutValues KzInetTimeOutClasses[4];

struct TKzPoolEntry;
using PKzPoolEntry = std::shared_ptr<TKzPoolEntry>;

// The handle record. Created by InternetOpen, freed by the last
// InternetCloseHandle. The chunk state (Chunked, RemainingChunkSize,
// IncompleteChunkSize) and the time-out class values are inherited fields.
struct TInet : TKzChunkState, TKzTimeOutValues {
  TKzSocket Socket = KZ_INVALID_SOCKET;
  bool isStart = false;
  TKzConnectProtocol Protocol = TKzConnectProtocol::kzcpHTTP;
  std::string Agent;
  std::string ProxyHost;
  uint16_t ProxyPort = 0;
  std::string ReceiverHost;
  uint16_t ReceiverPort = 0;
  std::string FileName;
  std::string OriginHost;
  uint16_t OriginPort = 0;
  std::string OriginFileName;
  uint32_t SockAddr = 0;  // resolved IPv4 address (network order) of the peer
  std::string req;
  bool IsRedirect = false;
  int32_t RedirectCount = 0;
  bool IsServiceUnavailable = false;
  std::string Header;
  std::string Query;
  std::string Params;
  uint32_t ContentLength = 0;
  uint32_t BytesRead = 0;
  TMemoryStream Buffer;  // bytes after the reply header not yet delivered
  std::string VersionProtocol;
  std::string Session;
  bool isKeepAlive = false;
  bool IsProxy = false;
  bool isAuthorize = false;
  std::atomic<bool>* Abort = nullptr;  // points at FAbortFlag unless the owner redirects it
  int32_t StepConnect = 0;
  int64_t ConnectTimeOut = 0;
  uint32_t ConnectTry = 0;
  int64_t WaitSend = 0;
  int64_t WaitRecv = 0;
  uint16_t DefaultPort = 0;
  int32_t ConnectCount = 0;
  int64_t CSeq = 0;
  int64_t LastUpdate = 0;
  bool IsUsed = false;
  bool IsCloseSocket = false;
  bool IsLocation = false;
  int32_t ErrCode = 0;
  std::shared_ptr<TKzCriticalSection> CriticalSection;  // shared by the records of one host
  std::string URL;
  std::string ContentBase;
  std::string SessionNum;
  int32_t CurChannel = -1;
  int32_t ChannelCount = 0;
  std::vector<TKzMChannelRTSP> ChannelRTSP;
  TKzMHeaderInfo AuthInfo;
  TKzMHeaderInfo ProxyInfo;

  // ---- Private state of the client (not part of the handle interface).
  std::atomic<bool> FAbortFlag{false};
  PKzPoolEntry FPoolEntry;        // the pool entry owning Socket
  bool FHasContentLength = false; // the reply gave a Content-Length
  bool FBodyEnded = false;        // the reply body has been delivered in full
  bool FSocketReused = false;     // Socket carried an earlier exchange
  uint32_t FPendingStatus = 0;    // a reply already read (proxy refusal)
  uint32_t FStatus = 0;           // status of the last reply
  TKzSourceError FError;          // why the last operation failed (fmxMKzInetError)
  std::string FExtraHeaders;      // the caller's header lines of this request ("Name: value\r\n"...)
};
using PInet = TInet*;

// Service numbers of InternetConnect and options of InternetSetOption.
constexpr uint32_t INTERNET_SERVICE_HTTP = 3;
constexpr uint32_t INTERNET_SERVICE_RTSP = 4;
constexpr uint32_t INTERNET_OPTION_USERNAME = 28;
constexpr uint32_t INTERNET_OPTION_PASSWORD = 29;
constexpr uint32_t INTERNET_OPTION_PROXY_USERNAME = 43;
constexpr uint32_t INTERNET_OPTION_PROXY_PASSWORD = 44;
// HttpQueryInfo levels.
constexpr uint32_t HTTP_QUERY_STATUS_CODE = 19;
constexpr uint32_t HTTP_QUERY_FLAG_NUMBER = 0x20000000;

// Process-wide settings.
extern std::atomic<int32_t> glKzInetMaxConnect;    // MaxConnect of a newly seen host (8)
extern std::atomic<int32_t> glLoginAttemptCount;   // credential retries of the camera threads (5)

// ---- Handle operations. Owning thread of the record; those that talk to
// the network block within the time-out class's limits.

// A new record. Proxy: "host" (port 8080) or "host:port". Never blocks.
PInet InternetOpen(const char* Agent, uint32_t AccessType, const char* Proxy, const char* ProxyBypass,
                   uint32_t Flags);
// Connects to Host:Port (service 3 HTTP, 4 RTSP), from the pool when a free
// connection is there. Returns Handle, or null on failure.
PInet InternetConnect(PInet Handle, const char* Host, uint16_t Port, const char* UserName, const char* Password,
                      uint32_t Service, uint32_t Flags, uintptr_t Context);
// Builds the request text. Never blocks.
PInet HttpOpenRequest(PInet Handle, const char* Verb, const char* Path, const char* Version,
                      const char* Referrer, const char* const* AcceptTypes, uint32_t Flags, uintptr_t Context);
// (Tunnels through the proxy, then) sends the request. Optional data are
// the form parameters, sent as the last line of the head; with Headers
// (more header lines for this request, a Content-Type among them replacing
// the form type) they are the body after the head instead. Both stay for a
// resend of the same request.
bool HttpSendRequest(PInet Handle, const char* Headers, uint32_t HeadersLength, const void* Optional,
                     uint32_t OptionalLength);
// Reads and parses the reply header, following redirects and answering one
// authentication challenge. Value: the status for the status-code level.
bool HttpQueryInfo(PInet Handle, uint32_t InfoLevel, uint32_t& Value, uint32_t& Index);
// Delivers up to Size body bytes; BytesRead 0 with true: the body ended.
// The Size bytes of Buffer after the delivered ones read as zero.
bool InternetReadFile(PInet Handle, void* Buffer, uint32_t Size, uint32_t& BytesRead);
// InternetReadFile for readers that use only the delivered bytes: the rest
// of Buffer is left as it was, which spares clearing a large read buffer on
// every read of a stream.
bool KzInetReadBody(PInet Handle, void* Buffer, uint32_t Size, uint32_t& BytesRead);
// Options 28, 29 (server user and password), 43, 44 (proxy user and
// password): the first Length characters of Value. Never blocks.
bool InternetSetOption(PInet Handle, uint32_t Option, const char* Value, uint32_t Length);
// Whether the body of the reply being read ended by its own framing (its
// Content-Length delivered, or the last chunk seen), rather than by the
// connection closing or nothing arriving in time. Never blocks.
bool KzInetBodyComplete(PInet Handle);
// Whether the body of the reply being read has ended, by its framing or by
// the server closing the connection (not: nothing arrived in time). Never blocks.
bool KzInetBodyEnded(PInet Handle);
// Whether a body read would find bytes: received with the reply header, or
// on the socket now or within WaitMs. Blocks up to WaitMs.
bool KzInetDataWaiting(PInet Handle, uint32_t WaitMs = 0);
// Steps the record down one level; the third call frees it and clears Handle.
bool InternetCloseHandle(PInet& Handle);
// Loads a time-out class. Never blocks.
void SetInetTimeOut(PInet Handle, TKzTimeOut Class);

// ---- RTSP. Owning thread of the record; block within the time-out class
// (RtspOpenRequest never blocks).
PInet RtspInternetConnect(PInet Handle, const std::string& Host, uint16_t Port, const std::string& Path,
                          const std::string& UserName, const std::string& Password);
// One request and its reply: true for 200 and 401.
bool SendRTSPCmd(PInet Handle, const std::string& Method);
PInet RtspOpenRequest(PInet Handle, const std::string& Method);
bool RtspSendRequest(PInet Handle);
bool RtspQueryInfo(PInet Handle, uint32_t& Status);

// ---- Request texts (exposed for tests and tools). Never block.
std::string CreateHeaderHTTP(PInet Handle);
std::string CreateHeaderRTSP(PInet Handle);

// ---- Connection pool and per-host memory. Any thread.
void CheckMaxConnect(PInet Handle);  // blocks until below the host's limit (or abort)
int32_t GetHostConnectCount(PInet Handle);
int32_t GetHostMaxConnectCount(PInet Handle);
void DecreaseMaxConnect(PInet Handle);
int32_t GetAllowedNumberConnections(PInet Handle);
void CloseAllFreeHostConnect(PInet Handle);
void FreeTimeOutSocketList();
bool LoadHostProperty(PInet Handle);
bool SaveHostProperty(PInet Handle);
// Number of entries in the pool (free and used), for tools and tests.
size_t KzInetPoolCount();
// Closes every free pooled connection and forgets hosts and names; stops the
// house-keeping timer. For the end of a program or a test. Any thread; blocks briefly.
void KzInetShutdown();

// ---- Names. Any thread; may block on the resolver.
uint32_t KzLookupName(const std::string& Host);
uint16_t GetDefaultPort(TKzConnectProtocol Protocol);

// ---- Probes. Any thread but the main one; block within the time-out class
// (and end within one pause once *Abort, when given, is set).
bool CheckHTTP_URL(const std::string& Agent, const std::string& URL, const std::string& UserName,
                   const std::string& Password, TKzTimeOut TimeOut, uint16_t Port);
bool CheckRTSP_URL(const std::string& Agent, const std::string& URL, const std::string& UserName,
                   const std::string& Password, TKzTimeOut TimeOut, uint16_t Port,
                   std::atomic<bool>* Abort = nullptr);
bool CheckConnect(const std::string& Agent, const std::string& URL, const std::string& UserName,
                  const std::string& Password, TKzTimeOut TimeOut, uint16_t Port, std::atomic<bool>* Abort = nullptr);

// ---- Internal steps shared by the client's units. Owning thread of the
// record; those that touch the network block within the time-out class.
// Connects Handle (pool or new sockets). True when it has a socket.
bool KzInetSetConnection(PInet Handle);
// Closes Handle's socket and drops its pool entry.
void KzInetCloseSocket(PInet Handle);
// Sends Text; the send result (> 0) or -1.
int64_t KzInetSocketSend(PInet Handle, const std::string& Text);
// Reads one reply header into Header (the rest goes to Buffer). False on
// time-out, abort, a closed connection or a socket error.
bool KzInetRecvHeader(PInet Handle);
bool KzInetAborted(PInet Handle);
// Hands Handle's connection back to the pool as free.
void KzInetReleaseSocket(PInet Handle);
// Whether Handle's connection is a tunnel through its proxy; marks it so.
bool KzInetTunnelled(PInet Handle);
void KzInetSetTunnelled(PInet Handle);
// Notes socket activity now.
void KzInetTouch(PInet Handle);
// Starts the house-keeping timer once per process.
void KzInetStartUp();
// A new record takes the challenge its host last answered for the same
// credentials, so that it need not be asked again.
void KzInetInheritAuth(PInet Handle);
// Steps 1 to 8 of reading a reply on the header in Handle->Header: version,
// status, body framing, location, flags, host memory, connection limit,
// redirect. False after a redirect or a 503 (the caller closes the socket).
bool KzInetParseReply(PInet Handle, uint32_t& Status);
// Waits up to Ms in slices, returning false at once when aborted.
bool KzInetPause(PInet Handle, uint32_t Ms);

}  // namespace kz
