// Frame-rate counter, mode choice, PATH rules, options, files and the HTTP header.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "foundation/fmxMKzType.h"
#include "foundation/fmxMKzVideoDevices.h"
#include "platform/fmxMKzPlatformClock.h"
#include "platform/fmxMKzPlatformFiles.h"
#include "platform/fmxMKzPlatformSockets.h"

using namespace kz;

TEST(FrameRate, CountsFramesOfTheLastWindowOfJustOverOneSecond) {
  TKzVirtualClockScope clock;
  TKzFPS fps;
  KzInitFPS(fps);
  for (int i = 0; i < 25; ++i) {
    EXPECT_EQ(KzRecalcFPS(1, fps), 0.0);
    clock.Clock.Advance(40);  // 25 frames in 1000 ms
  }
  EXPECT_EQ(KzRecalcFPS(1, fps), 0.0) << "1000 ms is still the same window";
  clock.Clock.Advance(1);
  EXPECT_EQ(KzRecalcFPS(1, fps), 26.0);
  EXPECT_EQ(fps.nCount, 1);
  // Withdrawing frames never goes below zero and restarts the window.
  EXPECT_EQ(KzRecalcFPS(-30, fps), 0.0);
  EXPECT_EQ(fps.nCount, 0);
}

TEST(VideoDevices, MostAppropriateMode) {
  struct Case {
    std::vector<std::pair<int, int>> modes;
    int w, h, expected;
  } cases[] = {
      {{{640, 480}, {1280, 720}, {800, 600}}, 800, 600, 2},  // exact size
      {{{640, 480}, {320, 240}, {1280, 720}}, 800, 600, 0},  // largest that fits
      {{{1280, 720}, {1920, 1080}}, 800, 600, 0},            // nearest area overall
      {{{320, 240}, {320, 240}}, 800, 600, 0},               // first wins on ties
      {{}, 800, 600, -1},
  };
  for (const Case& c : cases) {
    TKzMVideoDevice d("cam", "id");
    for (auto [w, h] : c.modes) {
      TKzCamVideoMode m;
      m.Width = w;
      m.Height = h;
      d.AddVideoMode(m);
    }
    EXPECT_EQ(d.FindMostAppropriateVideoMode(c.w, c.h), c.expected);
  }
  TKzMVideoDeviceList list;
  list.AddVideoDevice("USB Camera", "usb-1");
  list.AddVideoDevice("USB Camera", "usb-1");
  list.AddVideoDevice("usb camera", "usb-1");  // names compare case-sensitively
  EXPECT_EQ(list.GetVideoDeviceCount(), 2);
}

TEST(Path, AddsADirectoryOnlyWhenPathDoesNotHoldIt) {
  const std::string saved = PlatformGetEnv("PATH");
  PlatformSetEnv("PATH", "/usr/bin:/opt/FFmpeg/lib");
  for (const char* same : {"/opt/ffmpeg/lib", "/OPT/FFMPEG/LIB/", "/opt/FFmpeg/lib"}) {
    KzMAddToPathEnvironmentVar(same);
    EXPECT_EQ(PlatformGetEnv("PATH"), "/usr/bin:/opt/FFmpeg/lib") << same;
  }
  KzMAddToPathEnvironmentVar("/opt/gst/");
  EXPECT_EQ(PlatformGetEnv("PATH"), "/usr/bin:/opt/FFmpeg/lib:/opt/gst");
  PlatformSetEnv("PATH", saved);
}

TEST(Options, BufferOptionsByDataTypeCode) {
  TKzBufferOptions o;
  EXPECT_EQ(o.GetStreamType(1), TKzStreamType::kzstMemory);
  EXPECT_EQ(o.GetStreamType(16), TKzStreamType::kzstFile);
  for (uint32_t bad : {0u, 3u, 32u}) {
    try {
      o.GetStreamType(bad);
      FAIL() << bad;
    } catch (const EKzMediaError& e) {
      EXPECT_STREQ(e.what(), "Unknown data type");
    }
    EXPECT_THROW(o.GetMaxBufferSize(bad), EKzMediaError);
  }
}

TEST(Options, ProxySettersTellTheOwnerAndAssignDoesNot) {
  struct TOwner : IProxyProperty {
    int changes = 0;
    void UpdateProxy() override { ++changes; }
  } owner;
  TKzProxyProperty p(&owner);
  p.SetHost("proxy");
  p.SetPort(3128);
  p.SetProxyMode(TKzMFProxyMode::kzmManualSettings);
  EXPECT_EQ(owner.changes, 3);
  TKzProxyProperty q(&owner);
  q.Assign(p);
  EXPECT_EQ(owner.changes, 3);
  EXPECT_EQ(q.Port(), 3128);
}

TEST(Files, TempNamesAreFreeAndSizesMatchWildcards) {
  const std::string name = KzMGetTempFileName("kztest");
  EXPECT_EQ(name.rfind(KzMGetSysTempPath() + "/kztest", 0), 0u);
  EXPECT_FALSE(PlatformFileExists(name));
  { std::ofstream(name) << "12345"; }
  EXPECT_EQ(GetFileSize(name), 5);
  EXPECT_EQ(GetFileSize(name.substr(0, name.size() - 1) + "?"), 5);
  EXPECT_NE(KzMGetTempFileName("kztest"), name);
  std::remove(name.c_str());
  EXPECT_EQ(GetFileSize(name), -1);
}

TEST(Libraries, LoadingNeverThrows) {
  EXPECT_EQ(KzMLoadLibrary("libdoes-not-exist.so.9"), nullptr);
  EXPECT_EQ(KzMLoadLibrary(""), nullptr);
  TModuleHandle z = KzMLoadLibrary("libz.so.1");
  ASSERT_NE(z, nullptr);
  EXPECT_NE(KzMGetProcAddress(z, "zlibVersion"), nullptr);
  EXPECT_EQ(KzMGetProcAddress(z, "no_such_entry"), nullptr);
  EXPECT_EQ(KzMGetProcAddress(nullptr, "zlibVersion"), nullptr);
  KzMFreeLibrary(z);
}

TEST(HttpHeader, CarriesTheStreamRequestExactly) {
  const std::string local = GetLocalHostAddress();
  EXPECT_EQ(CreateHeader("relay:8080/kz", "relay:8080", "abc", "POST"),
            "POST http://relay:8080/kz HTTP/1.1\r\nHost: relay:8080\r\nUser-Agent: KzMedia\r\nReferer: " + local +
                "\r\nAccept: */*;q=0.1\r\nAccept-Language: en-US,en;q=0.9\r\n"
                "Accept-Charset: windows-1252,utf-8;q=0.7,*;q=0.7\r\nConnection: Keep-Alive\r\n"
                "Content-Length: 3\r\nContent-Type: application/x-www-form-urlencoded\r\n\r\nabc");
}

TEST(Names, LookupTakesDottedAddressesAndResolvesLocalhost) {
  EXPECT_EQ(PlatformIPv4ToText(LookupName("127.0.0.1")), "127.0.0.1");
  EXPECT_EQ(PlatformIPv4ToText(LookupName("localhost")), "127.0.0.1");
  EXPECT_EQ(LookupName("no-such-host.invalid"), 0u);
  EXPECT_FALSE(GetLocalHostAddress().empty());
}

TEST(Guid, TextFormRoundTripsAndRejectsMalformedText) {
  const std::string text = "{6B29FC40-CA47-1067-B31D-00DD010662DA}";
  const TGUID g = StringToGUIDA(text);
  EXPECT_EQ(g.D1, 0x6B29FC40u);
  EXPECT_EQ(GUIDToStringA(g), text);
  EXPECT_EQ(GUIDToStringA(StringToGUIDA("{6b29fc40-ca47-1067-b31d-00dd010662da}")), text);
  EXPECT_TRUE(IsNull(StringToGUIDA("")));
  for (const char* bad : {"6B29FC40-CA47-1067-B31D-00DD010662DA", "{6B29FC40-CA47-1067-B31D-00DD010662DZ}",
                          "{6B29FC40CA47-1067-B31D-00DD010662DA0}", "{}"})
    EXPECT_THROW(StringToGUIDA(bad), EKzConvertError) << bad;
  uint8_t wire[16];
  GUIDToBytes(g, wire);
  EXPECT_EQ(wire[0], 0x40);
  EXPECT_EQ(GUIDFromBytes(wire), g);
  EXPECT_NE(KzCreateGUID(), KzCreateGUID());
}
