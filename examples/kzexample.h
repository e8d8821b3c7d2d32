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
#include <vector>

#include "camera/fmxMKzCamera.h"

#ifndef KZ_EXAMPLE_CAMSIM
#define KZ_EXAMPLE_CAMSIM "kzcamsim"  // found on PATH
#endif

class TKzExampleSource {
public:
  // SimArgs: more options for kzcamsim ("--onvif").
  explicit TKzExampleSource(const char* URL, std::vector<std::string> SimArgs = {}) {
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
      std::vector<char*> argv;
      for (const char* a : {"kzcamsim", "--port", "0", "--quiet"}) argv.push_back(const_cast<char*>(a));
      for (std::string& a : SimArgs) argv.push_back(a.data());
      argv.push_back(nullptr);
      execvp(KZ_EXAMPLE_CAMSIM, argv.data());
      _exit(127);
    }
    close(out[1]);
    // Its first line: "kzcamsim: streaming on http://127.0.0.1:PORT/video.mjpg".
    // The pipe stays open while it runs: it writes a line or two more (NextLine).
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
  // The simulator's next line of output ("" when there is none).
  std::string NextLine() {
    char line[256] = "";
    if (!FOutput || !std::fgets(line, sizeof line, FOutput)) return "";
    return std::string(line, std::strcspn(line, "\r\n"));
  }

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
