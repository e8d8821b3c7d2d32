// The library's built-in texts that views show, in the eight languages of
// TKzMLanguage. Any thread, never blocks.
#pragma once
#include <cstdint>
#include <string>

#include "video/fmxMKzVideoSource.h"

namespace kz {

// Message numbers of the built-in texts.
enum class TKzMMessageId : uint8_t {
  kzmmAccessingCamera = 4,  // takes the camera's address for "%s"
  kzmmNoVideo = 8,
  kzmmWebCamera = 9,
  kzmmDesktop = 10,
};

// The text of Id in Language (UTF-8); "" for a number without a text.
const char* KzMGetMessageText(TKzMMessageId Id, TKzMLanguage Language);
// The text with its "%s" replaced by Arg.
std::string KzMFormatMessageText(TKzMMessageId Id, TKzMLanguage Language, const std::string& Arg);

}  // namespace kz
