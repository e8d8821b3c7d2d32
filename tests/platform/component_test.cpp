// Component ownership, free notification and loading state; streams.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "platform/fmxMKzPlatformComponent.h"
#include "platform/fmxMKzPlatformStream.h"

using namespace kz;

namespace {
struct TProbe : TComponent {
  TProbe(TComponent* Owner, std::vector<std::string>* Log, std::string N) : TComponent(Owner), FLog(Log) {
    SetName(N);
  }
  ~TProbe() override { FLog->push_back("free " + Name()); }
  void Loaded() override { FLog->push_back("loaded " + Name()); }
  void Notification(TComponent* C, TOperation Op) override {
    TComponent::Notification(C, Op);
    if (Op == TOperation::opRemove) FLog->push_back(Name() + " saw " + C->Name() + " go");
  }
  std::vector<std::string>* FLog;
};
}  // namespace

TEST(Component, OwnerFreesChildrenAndWatchersAreTold) {
  std::vector<std::string> log;
  auto* form = new TProbe(nullptr, &log, "form");
  auto* camera = new TProbe(form, &log, "camera");
  auto* view = new TProbe(form, &log, "view");
  TProbe outside(nullptr, &log, "outside");
  outside.FreeNotification(camera);
  EXPECT_EQ(form->ComponentCount(), 2);

  delete view;  // a child freed early leaves its owner's list
  EXPECT_EQ(form->ComponentCount(), 1);
  delete form;
  // A derived destructor runs before the base frees children and tells watchers.
  EXPECT_EQ(log, (std::vector<std::string>{"free view", "free form", "free camera", "outside saw camera go"}));
}

TEST(Component, DesignModePassesToChildrenAndLoadingEndsWithLoaded) {
  std::vector<std::string> log;
  TProbe form(nullptr, &log, "form");
  form.SetDesigning(true);
  auto* child = new TProbe(&form, &log, "child");
  EXPECT_TRUE(child->IsDesigning());
  child->BeginLoading();
  EXPECT_TRUE(log.empty());  // nothing loaded yet
  child->EndLoading();
  EXPECT_EQ(log.back(), "loaded child");
}

TEST(Stream, MemoryStreamReadsWritesSeeksAndCopies) {
  TMemoryStream a;
  EXPECT_EQ(a.Write("hello world", 11), 11);
  EXPECT_EQ(a.Size(), 11);
  a.SetPosition(6);
  char buf[16] = {0};
  EXPECT_EQ(a.Read(buf, 100), 5);
  EXPECT_STREQ(buf, "world");
  EXPECT_EQ(a.Read(buf, 1), 0);

  TMemoryStream b;
  a.SetPosition(6);
  EXPECT_EQ(b.CopyFrom(a, 3), 3);  // from the source position
  EXPECT_EQ(std::string(reinterpret_cast<char*>(b.Memory()), 3), "wor");
  EXPECT_EQ(b.CopyFrom(a, 0), 11);  // 0: all of it from the start
  EXPECT_EQ(b.Size(), 14);
  b.DeleteFront(3);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(b.Memory()), 11), "hello world");
  EXPECT_EQ(b.Seek(-1, TSeekOrigin::soBeginning), -1);
}

// Buffers past KZ_PAGES_MIN_BYTES are mapped pages: growing across that size
// and within it keeps every byte; swapped and cleared buffers go back the
// way they came (a wrong kind of free aborts).
TEST(Stream, MemoryStreamKeepsBytesWhileGrowingIntoPages) {
  TMemoryStream grown, small;
  small.Write("x", 1);
  std::vector<uint8_t> chunk(40000);
  for (int i = 0; i < 100; ++i) {
    std::fill(chunk.begin(), chunk.end(), static_cast<uint8_t>(i));
    ASSERT_EQ(grown.Write(chunk.data(), static_cast<int64_t>(chunk.size())), 40000);
  }
  for (int i = 0; i < 100; ++i) ASSERT_EQ(grown.Memory()[i * 40000 + 39999], i) << "chunk " << i;
  grown.Swap(small);
  EXPECT_EQ(small.Size(), 4000000);
  EXPECT_EQ(grown.Memory()[0], 'x');
  small.Clear();
  const std::vector<uint8_t> big(200000, 7);
  EXPECT_EQ(small.Write(big.data(), 200000), 200000);
  EXPECT_EQ(small.Memory()[199999], 7);
}
