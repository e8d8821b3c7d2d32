// What a multi-source pipeline does with the non-picture data of a sender:
// command chunks go to the owner as message 1031, user data as message 1035
// or straight to its handler, file chunks to its file handler with 1036 when
// a file starts and when it is complete.
#pragma once
#include <cstddef>
#include <cstdint>

#include "foundation/fmxMKzDataList.h"
#include "video/fmxMKzMultiSourceOwner.h"

namespace kz {

// The connection handle inside a data-list key (handle x 256 + data type code).
inline int32_t KzClientHandle(int32_t Key) { return Key / 256; }

// Bytes a data list holds for the media item of that source, key and index
// (0 when there is none). Takes the list lock. Any thread.
int64_t KzHeldBytes(TKzDataList& List, const TKzHeaderPack& Header, int32_t Key, int32_t MediaIndex);
// Whether Code is one of the five data type codes (1, 2, 4, 8, 16).
bool KzIsDataTypeCode(uint8_t Code);
// Whether an entry with that key holds bytes. Takes the list lock. Any thread.
bool KzKeyHoldsData(TKzDataList& List, int32_t Key);
// Frees every entry of the list with that key. Takes the list lock. Any thread.
void KzDeleteKey(TKzDataList& List, int32_t Key);
// The media index a chunk described by Info is kept under for that data
// type: its own for video and audio, 0 for every other type.
int32_t KzChunkMediaIndex(int32_t Key, const TKzInfo& Info);

// Posts one command chunk (a count byte and the serialised commands) to the
// owner as message 1031, with a copy of the bytes. Any thread, never blocks.
void KzPostCommandData(IKzMultiSourceOwner& Owner, int32_t Key, const TKzHeaderPack& Header, uint16_t MediaIndex,
                       const uint8_t* Data, size_t Size);

// Hands the bytes of a user-data item to the owner: nothing without a
// handler; message 1035 when it wants user data on the main thread; else its
// handler, called here. Decode thread.
void KzDeliverUserData(IKzMultiSourceOwner& Owner, const TKzDataItem& Entry, TKzBaseDataItem& Item);

// Walks the file chunk records of a file item (their payloads in order):
// a new FileGUID starts a new file (1036 with KZ_FILE_RECEIVING), every
// chunk goes to the owner's file handler, and the item's FileOffs advances
// by each chunk until the file is complete (1036 with KZ_FILE_RECEIVED).
// A damaged record ends the walk and is reported as debug text. Returns the
// number of chunks handed on. Decode thread.
int32_t KzDeliverFileData(IKzMultiSourceOwner& Owner, const TKzDataItem& Entry, TKzFileDataItem& Item);

}  // namespace kz
