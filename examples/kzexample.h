// What the examples share: a camera URL from the command line, or the
// synthetic camera kzcamsim started on a free loopback port when none is
// given, so every example runs anywhere.
#pragma once
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "camera/fmxMKzCamera.h"

#ifndef KZ_EXAMPLE_CAMSIM
#define KZ_EXAMPLE_CAMSIM "kzcamsim"  // found on PATH
#endif

class TKzExampleSource {
public:
  explicit TKzExampleSource(const char* URL) {
    if (URL && *URL) {
      FURL = URL;
      return;
    }
    int out[2];
    if (pipe(out) != 0) return;
    FSim = fork();
    if (FSim == 0) {
      dup2(out[1], STDOUT_FILENO);
      close(out[0]);
      execlp(KZ_EXAMPLE_CAMSIM, "kzcamsim", "--port", "0", "--quiet", static_cast<char*>(nullptr));
      _exit(127);
    }
    close(out[1]);
    // Its first line: "kzcamsim: streaming on http://127.0.0.1:PORT/video.mjpg".
    // The pipe stays open while it runs: it writes one more line.
    FOutput = fdopen(out[0], "r");
    char line[256] = "";
    if (FOutput && std::fgets(line, sizeof line, FOutput))
      if (const char* url = std::strstr(line, "http://")) FURL.assign(url, std::strcspn(url, "\r\n"));
    if (FURL.empty()) std::fprintf(stderr, "could not start %s\n", KZ_EXAMPLE_CAMSIM);
  }
  ~TKzExampleSource() {
    if (FSim > 0) {
      kill(FSim, SIGTERM);
      waitpid(FSim, nullptr, 0);
    }
    if (FOutput) std::fclose(FOutput);
  }
  const std::string& URL() const { return FURL; }

  // Starts Camera on the URL: RTSP through FFmpeg, anything else over HTTP.
  void Play(kz::TKzCamera& Camera) const {
    Camera.SetURL(FURL);
    Camera.SetDeviceType(FURL.rfind("rtsp://", 0) == 0 ? kz::TKzDeviceType::kzdtRTSP : kz::TKzDeviceType::kzdtHTTP);
    Camera.PlayVideoStream();
  }

private:
  std::string FURL;
  pid_t FSim = -1;
  FILE* FOutput = nullptr;
};
