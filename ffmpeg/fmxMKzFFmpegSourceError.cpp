// How the end of playing reads in the words every video source uses.
#include "ffmpeg/fmxMKzFFmpeg.h"
#include "ffmpeg/fmxMKzFFmpegLib.h"

namespace kz {

namespace {
// FFmpeg's results for HTTP/RTSP replies and the statuses they stand for.
struct TKzStatusRow {
  int32_t Result;
  uint32_t Status;
};
const TKzStatusRow KzStatusRows[] = {
    {AVERROR_HTTP_BAD_REQUEST, 400}, {AVERROR_HTTP_UNAUTHORIZED, 401}, {AVERROR_HTTP_FORBIDDEN, 403},
    {AVERROR_HTTP_NOT_FOUND, 404},   {AVERROR_HTTP_OTHER_4XX, 400},    {AVERROR_HTTP_SERVER_ERROR, 500},
};
}  // namespace

TKzSourceError TKzMFFMPEG::SourceError() const {
  TKzSourceError e;
  const int32_t err = Err(), result = FFmpegResult();
  if (FEndedByAbort) return e;  // an abort asked for
  if (err == 0) return e;
  const std::string what = FErrorText.empty() ? av_err2str(result) : FErrorText + ": " + av_err2str(result);
  e.Text = what;
  for (const TKzStatusRow& row : KzStatusRows) {
    if (result != row.Result) continue;
    e.Kind = row.Status == 401 ? TKzSourceErrorKind::kzseLoginRefused : TKzSourceErrorKind::kzseHTTPStatus;
    e.StatusCode = row.Status;
    return e;
  }
  if (FStalled || result == AVERROR(ETIMEDOUT)) {
    e.Kind = TKzSourceErrorKind::kzseTimedOut;
  } else if (result == AVERROR(ECONNREFUSED)) {
    e.Kind = TKzSourceErrorKind::kzseRefused;
  } else if (err == 3 || err == 30) {
    e.Kind = TKzSourceErrorKind::kzseNotVideo;
  } else if (err == KzFFmpegNoPacket || (!FNetwork && (err == 1 || err == 2))) {
    e.Kind = TKzSourceErrorKind::kzseEmptyFile;
  } else if (FNetwork && err == AVERROR_EOF) {
    e.Kind = TKzSourceErrorKind::kzseStreamClosed;
  } else if (!FNetwork && err == AVERROR_EOF) {
    e = {};  // a file played to its end
  } else {
    e.Kind = TKzSourceErrorKind::kzseOther;
  }
  return e;
}

}  // namespace kz
