#include "platform/fmxMKzPlatformStream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/fmxMKzPlatformPages.h"

namespace kz {

int64_t TStream::CopyFrom(TStream& Source, int64_t Count) {
  if (Count == 0) {
    Source.SetPosition(0);
    Count = Source.Size();
  }
  if (auto* mem = dynamic_cast<TMemoryStream*>(&Source)) {
    int64_t pos = mem->Position();
    int64_t n = std::min(Count, mem->Size() - pos);
    if (n <= 0) return 0;
    int64_t w = Write(mem->Memory() + pos, n);
    mem->Seek(w, TSeekOrigin::soCurrent);
    return w;
  }
  char buf[65536];
  int64_t total = 0;
  while (total < Count) {
    int64_t want = std::min<int64_t>(Count - total, sizeof buf);
    int64_t got = Source.Read(buf, want);
    if (got <= 0) break;
    int64_t w = Write(buf, got);
    total += w;
    if (w != got) break;
  }
  return total;
}

int64_t TStream::CopyAvailableFrom(TStream& Source, int64_t Count) {
  if (Count < 0) return 0;
  if (Count == 0) return CopyFrom(Source, 0);
  const int64_t available = std::max<int64_t>(0, Source.Size() - Source.Position());
  return CopyFrom(Source, std::min(Count, available));
}

// ---- TMemoryStream

namespace {

// A buffer of KZ_PAGES_MIN_BYTES or more is mapped pages, a smaller one malloc's.
bool IsPages(int64_t Capacity) { return Capacity >= static_cast<int64_t>(KZ_PAGES_MIN_BYTES); }

void FreeBuffer(uint8_t* Data, int64_t Capacity) {
  if (IsPages(Capacity))
    PlatformPagesFree(Data, static_cast<size_t>(Capacity));
  else
    std::free(Data);
}

}  // namespace

TMemoryStream::~TMemoryStream() { FreeBuffer(FData, FCapacity); }

bool TMemoryStream::Reserve(int64_t NewCapacity) {
  if (NewCapacity <= FCapacity) return true;
  int64_t cap = std::max<int64_t>(NewCapacity, FCapacity + FCapacity / 2);
  cap = (cap + 8191) & ~int64_t(8191);
  void* p;
  if (!IsPages(cap)) {
    p = std::realloc(FData, static_cast<size_t>(cap));
  } else if (IsPages(FCapacity)) {
    p = PlatformPagesResize(FData, static_cast<size_t>(FCapacity), static_cast<size_t>(cap));
  } else {
    p = PlatformPagesAlloc(static_cast<size_t>(cap));
    if (p && FSize > 0) memcpy(p, FData, static_cast<size_t>(FSize));
    if (p) std::free(FData);
  }
  if (!p) return false;
  FData = static_cast<uint8_t*>(p);
  FCapacity = cap;
  return true;
}

int64_t TMemoryStream::Read(void* Buffer, int64_t Count) {
  if (Count <= 0 || FPosition >= FSize) return 0;
  int64_t n = std::min(Count, FSize - FPosition);
  memcpy(Buffer, FData + FPosition, static_cast<size_t>(n));
  FPosition += n;
  return n;
}

int64_t TMemoryStream::Write(const void* Buffer, int64_t Count) {
  if (Count <= 0 || FPosition < 0) return 0;
  int64_t end = FPosition + Count;
  if (end > FSize) {
    if (!Reserve(end)) return 0;
    FSize = end;
  }
  memcpy(FData + FPosition, Buffer, static_cast<size_t>(Count));
  FPosition = end;
  return Count;
}

int64_t TMemoryStream::Seek(int64_t Offset, TSeekOrigin Origin) {
  int64_t base = Origin == TSeekOrigin::soBeginning ? 0 : Origin == TSeekOrigin::soCurrent ? FPosition : FSize;
  int64_t p = base + Offset;
  if (p < 0) return -1;
  FPosition = p;
  return p;
}

bool TMemoryStream::SetSize(int64_t NewSize) {
  if (NewSize < 0) return false;
  if (!Reserve(NewSize)) return false;
  FSize = NewSize;
  if (FPosition > FSize) FPosition = FSize;
  return true;
}

void TMemoryStream::Clear() {
  FreeBuffer(FData, FCapacity);
  FData = nullptr;
  FSize = FCapacity = FPosition = 0;
}

void TMemoryStream::DeleteFront(int64_t Count) {
  if (Count <= 0) return;
  if (Count >= FSize) {
    FSize = 0;
    FPosition = 0;
    return;
  }
  memmove(FData, FData + Count, static_cast<size_t>(FSize - Count));
  FSize -= Count;
  FPosition = std::max<int64_t>(0, FPosition - Count);
}

void TMemoryStream::Swap(TMemoryStream& Other) {
  std::swap(FData, Other.FData);
  std::swap(FSize, Other.FSize);
  std::swap(FCapacity, Other.FCapacity);
  std::swap(FPosition, Other.FPosition);
}

// ---- TFileStream

TFileStream::TFileStream(const std::string& FileName, TFileMode Mode) : FFileName(FileName) {
  int flags = O_CLOEXEC;
  switch (Mode) {
    case TFileMode::fmCreate: flags |= O_RDWR | O_CREAT | O_TRUNC; break;
    case TFileMode::fmOpenRead: flags |= O_RDONLY; break;
    case TFileMode::fmOpenReadWrite: flags |= O_RDWR; break;
  }
  FHandle = ::open(FileName.c_str(), flags, 0644);
}

TFileStream::~TFileStream() {
  if (FHandle >= 0) ::close(FHandle);
}

int64_t TFileStream::Read(void* Buffer, int64_t Count) {
  if (FHandle < 0 || Count <= 0) return 0;
  int64_t total = 0;
  while (total < Count) {
    ssize_t r = ::read(FHandle, static_cast<char*>(Buffer) + total, static_cast<size_t>(Count - total));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    total += r;
  }
  return total;
}

int64_t TFileStream::Write(const void* Buffer, int64_t Count) {
  if (FHandle < 0 || Count <= 0) return 0;
  int64_t total = 0;
  while (total < Count) {
    ssize_t w = ::write(FHandle, static_cast<const char*>(Buffer) + total, static_cast<size_t>(Count - total));
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) break;
    total += w;
  }
  return total;
}

int64_t TFileStream::Seek(int64_t Offset, TSeekOrigin Origin) {
  if (FHandle < 0) return -1;
  int whence = Origin == TSeekOrigin::soBeginning ? SEEK_SET : Origin == TSeekOrigin::soCurrent ? SEEK_CUR : SEEK_END;
  off_t r = ::lseek(FHandle, Offset, whence);
  return r < 0 ? -1 : static_cast<int64_t>(r);
}

int64_t TFileStream::Size() const {
  struct stat st {};
  if (FHandle < 0 || fstat(FHandle, &st) != 0) return 0;
  return st.st_size;
}

bool TFileStream::SetSize(int64_t NewSize) {
  if (FHandle < 0 || NewSize < 0) return false;
  if (::ftruncate(FHandle, NewSize) != 0) return false;
  if (Position() > NewSize) Seek(NewSize, TSeekOrigin::soBeginning);
  return true;
}

}  // namespace kz
