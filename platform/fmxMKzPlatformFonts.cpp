// FreeType font engine of the canvas (see the header).
#include "platform/fmxMKzPlatformFonts.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_TRUETYPE_TABLES_H

#include <algorithm>
#include <cctype>
#include <cmath>
#include <map>
#include <mutex>
#include <unistd.h>
#include <unordered_map>

#include "platform/fmxMKzPlatformUTF8.h"

namespace kz {

namespace {

const char* const KzDejaVuFolder = "/usr/share/fonts/truetype/dejavu/";

// Family names (lower case) and their files: regular, bold, italic, bold italic.
struct TKzFamilyFiles {
  const char* Family;
  const char* Files[4];
};
const TKzFamilyFiles KzFamilies[] = {
    {"dejavu sans", {"DejaVuSans.ttf", "DejaVuSans-Bold.ttf", "DejaVuSans-Oblique.ttf", "DejaVuSans-BoldOblique.ttf"}},
    {"dejavu sans mono",
     {"DejaVuSansMono.ttf", "DejaVuSansMono-Bold.ttf", "DejaVuSansMono-Oblique.ttf", "DejaVuSansMono-BoldOblique.ttf"}},
    {"dejavu serif",
     {"DejaVuSerif.ttf", "DejaVuSerif-Bold.ttf", "DejaVuSerif-Italic.ttf", "DejaVuSerif-BoldItalic.ttf"}},
    {"dejavu sans condensed",
     {"DejaVuSansCondensed.ttf", "DejaVuSansCondensed-Bold.ttf", "DejaVuSansCondensed-Oblique.ttf",
      "DejaVuSansCondensed-BoldOblique.ttf"}},
    {"dejavu serif condensed",
     {"DejaVuSerifCondensed.ttf", "DejaVuSerifCondensed-Bold.ttf", "DejaVuSerifCondensed-Italic.ttf",
      "DejaVuSerifCondensed-BoldItalic.ttf"}},
};
// Generic and common names mapped onto a DejaVu family.
const std::pair<const char*, const char*> KzFamilyAliases[] = {
    {"sans-serif", "dejavu sans"},     {"sans", "dejavu sans"},          {"serif", "dejavu serif"},
    {"monospace", "dejavu sans mono"}, {"mono", "dejavu sans mono"},     {"courier new", "dejavu sans mono"},
    {"times new roman", "dejavu serif"}, {"consolas", "dejavu sans mono"},
};
// CJK fonts, first installed one wins.
const char* const KzCJKFonts[] = {
    "/usr/share/fonts/truetype/wqy/wqy-zenhei.ttc",
    "/usr/share/fonts/opentype/noto/NotoSansCJK-Regular.ttc",
    "/usr/share/fonts/truetype/droid/DroidSansFallbackFull.ttf",
    "/usr/share/fonts/truetype/arphic/uming.ttc",
};

constexpr size_t KzMaxCachedGlyphs = 4096;
constexpr size_t KzMaxCachedBytes = 16u << 20;
constexpr float KzMaxFontSize = 512.0f;

bool FileExists(const std::string& Path) { return access(Path.c_str(), R_OK) == 0; }

std::string Lower(std::string S) {
  const size_t b = S.find_first_not_of(" \t"), e = S.find_last_not_of(" \t");
  S = b == std::string::npos ? std::string() : S.substr(b, e - b + 1);
  for (char& c : S) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return S;
}

const TKzFamilyFiles* FindFamily(const std::string& Name) {
  for (const auto& f : KzFamilies)
    if (Name == f.Family) return &f;
  for (const auto& [alias, family] : KzFamilyAliases)
    if (Name == alias) return FindFamily(family);
  return nullptr;
}

int32_t Round26(FT_Pos V) { return static_cast<int32_t>((V + 32) >> 6); }
int32_t Ceil26(FT_Pos V) { return static_cast<int32_t>((V + 63) >> 6); }

struct TGlyphKey {
  FT_Face Face;
  FT_F26Dot6 Size;
  FT_UInt Index;
  bool operator==(const TGlyphKey&) const = default;
};
struct TGlyphKeyHash {
  size_t operator()(const TGlyphKey& K) const {
    return std::hash<const void*>()(K.Face) ^ (std::hash<int64_t>()(K.Size) * 31) ^ (std::hash<uint32_t>()(K.Index) * 131);
  }
};
struct TCachedGlyph {
  FT_Pos Advance = 0;  // 26.6
  std::shared_ptr<const TKzGlyphImage> Image;
};

class TKzFontEngine {
public:
  TKzFontEngine() {
    if (FT_Init_FreeType(&FLibrary) != 0) FLibrary = nullptr;
    for (const char* f : KzCJKFonts)
      if (FileExists(f)) {
        FFallbackFile = f;
        break;
      }
  }
  // Kept for the life of the process: painting threads may still run while
  // static objects are destroyed.
  static TKzFontEngine& Instance() {
    static TKzFontEngine* engine = new TKzFontEngine;
    return *engine;
  }

  const std::string& FallbackFile() const { return FFallbackFile; }

  TKzTextLayout Layout(const std::string& Text, const TKzFont& Font, bool WithGlyphs) {
    TKzTextLayout out;
    if (!(Font.Size > 0.0f)) return out;
    const FT_F26Dot6 size = std::lround(std::min(Font.Size, KzMaxFontSize) * 64.0f);
    const std::lock_guard<std::mutex> lock(FLock);
    FT_Face face = Face(FileOf(Font.Family, Font.Style));
    if (face == nullptr || !SetSize(face, size)) return out;
    FT_Face fallback = FFallbackFile.empty() ? nullptr : Face(FFallbackFile);
    const FT_Size_Metrics& m = face->size->metrics;
    out.Extent.Ascent = Ceil26(m.ascender);
    out.Extent.Height = out.Extent.Ascent + Ceil26(-m.descender);
    LineMetrics(face, out);

    FT_Pos pen = 0;
    for (size_t i = 0; i < Text.size();) {
      const uint32_t cp = KzNextCodePoint(Text, i);
      if (cp < 0x20 || cp == 0x7F) continue;  // control characters take no room
      FT_Face f = face;
      FT_UInt index = FT_Get_Char_Index(face, cp);
      if (index == 0 && fallback != nullptr) {
        const FT_UInt other = FT_Get_Char_Index(fallback, cp);
        if (other != 0 && SetSize(fallback, size)) {
          f = fallback;
          index = other;
        }
      }
      const TCachedGlyph& g = Glyph(f, size, index);
      if (WithGlyphs && g.Image && g.Image->Width > 0) out.Glyphs.push_back({Round26(pen), g.Image});
      pen += g.Advance;
    }
    out.Extent.Width = Round26(pen);
    return out;
  }

private:
  const std::string& FileOf(const std::string& Family, uint8_t Style) {
    const auto key = std::make_pair(Family, Style & (kzfsBold | kzfsItalic));
    auto it = FFiles.find(key);
    if (it == FFiles.end()) {
      if (FFiles.size() >= 256) FFiles.clear();
      it = FFiles.emplace(key, KzFontFile(Family, Style)).first;
    }
    return it->second;
  }

  FT_Face Face(const std::string& File) {
    if (File.empty() || FLibrary == nullptr) return nullptr;
    auto it = FFaces.find(File);
    if (it == FFaces.end()) {
      FT_Face face = nullptr;
      if (FT_New_Face(FLibrary, File.c_str(), 0, &face) != 0) face = nullptr;
      it = FFaces.emplace(File, face).first;
    }
    return it->second;
  }

  bool SetSize(FT_Face Face, FT_F26Dot6 Size) {
    FT_F26Dot6& current = FFaceSize[Face];
    if (current == Size) return true;
    if (FT_Set_Char_Size(Face, 0, Size, 72, 72) != 0) return false;
    current = Size;
    return true;
  }

  // Underline and strike-out of the face at its current size.
  static void LineMetrics(FT_Face Face, TKzTextLayout& Out) {
    const FT_Fixed scale = Face->size->metrics.y_scale;
    const int32_t baseline = Out.Extent.Ascent;
    const FT_Pos thickness = FT_MulFix(Face->underline_thickness, scale);
    Out.LineThickness = std::max(1, Round26(thickness));
    Out.UnderlineTop = baseline - Round26(FT_MulFix(Face->underline_position, scale)) - Out.LineThickness / 2;
    const auto* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(Face, FT_SFNT_OS2));
    const FT_Pos strike = os2 != nullptr && os2->yStrikeoutPosition > 0
                              ? FT_MulFix(os2->yStrikeoutPosition, scale)
                              : Face->size->metrics.ascender / 4;
    Out.StrikeOutTop = baseline - Round26(strike) - Out.LineThickness / 2;
  }

  // The cached glyph, rendered on first use. The face's size is set.
  const TCachedGlyph& Glyph(FT_Face Face, FT_F26Dot6 Size, FT_UInt Index) {
    const TGlyphKey key{Face, Size, Index};
    if (auto it = FCache.find(key); it != FCache.end()) return it->second;
    if (FCache.size() >= KzMaxCachedGlyphs || FCachedBytes >= KzMaxCachedBytes) {
      FCache.clear();  // glyphs still being drawn are kept alive by their users
      FCachedBytes = 0;
    }
    TCachedGlyph g;
    if (FT_Load_Glyph(Face, Index, FT_LOAD_DEFAULT | FT_LOAD_TARGET_LIGHT) == 0) {
      g.Advance = Face->glyph->advance.x;
      if (FT_Render_Glyph(Face->glyph, FT_RENDER_MODE_NORMAL) == 0 &&
          Face->glyph->bitmap.pixel_mode == FT_PIXEL_MODE_GRAY) {
        const FT_Bitmap& bm = Face->glyph->bitmap;
        auto image = std::make_shared<TKzGlyphImage>();
        image->Left = Face->glyph->bitmap_left;
        image->Top = Face->glyph->bitmap_top;
        image->Width = static_cast<int32_t>(bm.width);
        image->Height = static_cast<int32_t>(bm.rows);
        image->Coverage.resize(static_cast<size_t>(bm.width) * bm.rows);
        for (unsigned y = 0; y < bm.rows; ++y)
          std::copy_n(bm.buffer + static_cast<ptrdiff_t>(y) * bm.pitch, bm.width,
                      image->Coverage.begin() + static_cast<ptrdiff_t>(y) * bm.width);
        FCachedBytes += image->Coverage.size() + sizeof(TKzGlyphImage);
        g.Image = std::move(image);
      }
    }
    return FCache.emplace(key, std::move(g)).first->second;
  }

  std::mutex FLock;  // guards FreeType, the faces and the cache
  FT_Library FLibrary = nullptr;
  std::string FFallbackFile;
  std::map<std::pair<std::string, int>, std::string> FFiles;  // family and style -> file
  std::map<std::string, FT_Face> FFaces;
  std::unordered_map<FT_Face, FT_F26Dot6> FFaceSize;
  std::unordered_map<TGlyphKey, TCachedGlyph, TGlyphKeyHash> FCache;
  size_t FCachedBytes = 0;
};

}  // namespace

std::string KzFontFile(const std::string& Family, uint8_t Style) {
  const int slot = ((Style & kzfsBold) != 0 ? 1 : 0) + ((Style & kzfsItalic) != 0 ? 2 : 0);
  const TKzFamilyFiles* sans = FindFamily("dejavu sans");
  const TKzFamilyFiles* family = FindFamily(Lower(Family));
  // The styled file of the family, its regular file, then DejaVu Sans.
  for (const TKzFamilyFiles* f : {family, sans}) {
    if (f == nullptr) continue;
    for (const char* file : {f->Files[slot], f->Files[0]}) {
      const std::string path = std::string(KzDejaVuFolder) + file;
      if (FileExists(path)) return path;
    }
  }
  return {};
}

std::string KzFallbackFontFile() { return TKzFontEngine::Instance().FallbackFile(); }

TKzTextLayout KzLayoutText(const std::string& Text, const TKzFont& Font, bool WithGlyphs) {
  return TKzFontEngine::Instance().Layout(Text, Font, WithGlyphs);
}

}  // namespace kz
