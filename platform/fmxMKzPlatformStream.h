// Byte streams of the framework: an abstract stream, a growable memory
// stream and a file stream. Not thread-safe; owners guard them.
#pragma once
#include <cstdint>
#include <string>

namespace kz {

enum class TSeekOrigin { soBeginning, soCurrent, soEnd };

class TStream {
public:
  virtual ~TStream() = default;
  // Read/Write return the number of bytes moved (0 on failure or at the end).
  virtual int64_t Read(void* Buffer, int64_t Count) = 0;
  virtual int64_t Write(const void* Buffer, int64_t Count) = 0;
  // New position, or -1 on failure.
  virtual int64_t Seek(int64_t Offset, TSeekOrigin Origin) = 0;
  virtual int64_t Size() const = 0;
  virtual bool SetSize(int64_t NewSize) = 0;

  int64_t Position() const { return const_cast<TStream*>(this)->Seek(0, TSeekOrigin::soCurrent); }
  void SetPosition(int64_t Pos) { Seek(Pos, TSeekOrigin::soBeginning); }
  // Appends Count bytes of Source from its current position (Count 0: all of
  // Source from its start). Returns the bytes copied.
  int64_t CopyFrom(TStream& Source, int64_t Count);
  // Like CopyFrom, but a Count beyond what Source holds from its position
  // is cut to that; a negative Count copies nothing.
  int64_t CopyAvailableFrom(TStream& Source, int64_t Count);
};

class TMemoryStream : public TStream {
public:
  TMemoryStream() = default;
  ~TMemoryStream() override;
  TMemoryStream(const TMemoryStream&) = delete;
  TMemoryStream& operator=(const TMemoryStream&) = delete;

  int64_t Read(void* Buffer, int64_t Count) override;
  int64_t Write(const void* Buffer, int64_t Count) override;
  int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
  int64_t Size() const override { return FSize; }
  // Growing leaves the new bytes undefined, as the framework's stream does.
  bool SetSize(int64_t NewSize) override;

  uint8_t* Memory() { return FData; }
  const uint8_t* Memory() const { return FData; }
  // Empties the stream and releases its memory.
  void Clear();
  // Drops the first Count bytes, moving the rest to the front; the position
  // moves back by as much (not below 0).
  void DeleteFront(int64_t Count);
  // Exchanges contents and positions with Other (no copying).
  void Swap(TMemoryStream& Other);
  int64_t Capacity() const { return FCapacity; }

private:
  bool Reserve(int64_t NewCapacity);
  uint8_t* FData = nullptr;
  int64_t FSize = 0;
  int64_t FCapacity = 0;
  int64_t FPosition = 0;
};

enum class TFileMode { fmCreate, fmOpenRead, fmOpenReadWrite };

class TFileStream : public TStream {
public:
  // Opens or creates FileName; Valid() tells whether it worked.
  TFileStream(const std::string& FileName, TFileMode Mode);
  ~TFileStream() override;
  TFileStream(const TFileStream&) = delete;
  TFileStream& operator=(const TFileStream&) = delete;
  bool Valid() const { return FHandle >= 0; }
  const std::string& FileName() const { return FFileName; }

  int64_t Read(void* Buffer, int64_t Count) override;
  int64_t Write(const void* Buffer, int64_t Count) override;
  int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
  int64_t Size() const override;
  bool SetSize(int64_t NewSize) override;

private:
  int FHandle = -1;
  std::string FFileName;
};

}  // namespace kz
