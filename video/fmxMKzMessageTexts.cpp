#include "video/fmxMKzMessageTexts.h"

#include <iterator>

namespace kz {

namespace {
// One row per message, one column per language in TKzMLanguage order.
struct TKzMessageRow {
  TKzMMessageId Id;
  const char* Texts[8];
};

constexpr TKzMessageRow kMessages[] = {
    {TKzMMessageId::kzmmAccessingCamera,
     {"Accessing camera at %s...", "Accès caméra à %s", "Verbindung zur Kamera wird hergestellt (%s)...",
      "Соединение с камерой %s...", "Conectando a %s...", "Conectando câmera %s...", "正在访问%s处的摄像机...",
      "正在訪問%s處的攝像機..."}},
    {TKzMMessageId::kzmmNoVideo,
     {"No Video", "Aucune vidéo", "Kein Video", "Нет видео", "No hay vídeo", "Sem vídeo", "无视频", "無視頻"}},
    {TKzMMessageId::kzmmWebCamera,
     {"Web Camera", "Camera web", "Webcam", "Вебкамера", "Webcam", "Web cam", "网络摄像头", "網路攝像頭"}},
    {TKzMMessageId::kzmmDesktop, {"Desktop", "Bureau", "Desktop", "Экран", "Escritorio", "Desktop", "桌面", "桌面"}},
};
}  // namespace

const char* KzMGetMessageText(TKzMMessageId Id, TKzMLanguage Language) {
  const size_t lang = static_cast<size_t>(Language);
  if (lang >= std::size(kMessages[0].Texts)) return "";
  for (const TKzMessageRow& row : kMessages)
    if (row.Id == Id) return row.Texts[lang];
  return "";
}

std::string KzMFormatMessageText(TKzMMessageId Id, TKzMLanguage Language, const std::string& Arg) {
  std::string text = KzMGetMessageText(Id, Language);
  const size_t at = text.find("%s");
  if (at != std::string::npos) text.replace(at, 2, Arg);
  return text;
}

}  // namespace kz
