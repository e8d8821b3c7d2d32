// The application's writer of received files: names that cannot leave the
// folder, partial files only the user can read, renamed when complete,
// dropped when too large or out of order.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "streaming/fmxMKzReceivedFileWriter.h"
#include "tests/kztestpeers.h"

using namespace kz;
using namespace kztest;

TEST(ReceivedFileName, NothingLeadsOutOfTheFolder) {
  const struct {
    std::string In, Out;
  } cases[] = {
      {"clip.bin", "clip.bin"},          {"../../etc/passwd", "passwd"}, {"..\\..\\boot.ini", "boot.ini"},
      {"..", "file"},                    {".", "file"},                  {"", "file"},
      {"a..b", "a_b"},                   {"dir/", "file"},               {std::string("x\0y", 3), "xy"},
      {"tab\there\n", "tabhere"},        {"R\xC3\xA9sum\xC3\xA9.txt", "R\xC3\xA9sum\xC3\xA9.txt"},
  };
  for (const auto& c : cases) EXPECT_EQ(KzSanitizeFileName(c.In), c.Out) << c.In;
}

TEST(ReceivedFileWriter, PartialFilesBecomeFilesOnlyWhenComplete) {
  TTempDir dir;
  const TGUID a{1, 0, 0, {}}, b{2, 0, 0, {}};
  std::vector<uint8_t> data(1000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7);
  auto files = [&] {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir.Path())) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  };
  {
    TKzReceivedFileWriter w(dir.Path(), 600);
    ASSERT_TRUE(w.Write(a, "../x.bin", 0, 500, data.data(), 300));
    ASSERT_EQ(files().size(), 1u);
    struct stat st {};
    ASSERT_EQ(stat((dir / files()[0]).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u) << "a partial file is the user's alone";
    EXPECT_TRUE(w.Completed().empty());
    // Another sender's file of the same name, and a chunk that skips ahead.
    ASSERT_TRUE(w.Write(b, "x.bin", 0, 100, data.data(), 100));
    EXPECT_FALSE(w.Write(a, "x.bin", 400, 500, data.data(), 100)) << w.Error();
    ASSERT_TRUE(w.Write(a, "x.bin", 0, 500, data.data(), 300));
    ASSERT_TRUE(w.Write(a, "x.bin", 300, 500, data.data() + 300, 200));
    EXPECT_EQ(w.Completed(), (std::vector<std::string>{dir / "x.bin", dir / "x.bin.1"}));
    EXPECT_EQ(ReadFile(dir / "x.bin.1"), std::string(data.begin(), data.begin() + 500));
    EXPECT_FALSE(w.Write(a, "big.bin", 0, 601, data.data(), 10)) << "over the cap";
    ASSERT_TRUE(w.Write(a, "left.bin", 0, 50, data.data(), 10));
  }
  EXPECT_EQ(files(), (std::vector<std::string>{"x.bin", "x.bin.1"})) << "partial files go with the writer";
}
