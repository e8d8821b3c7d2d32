#include "video/fmxMKzLibJpeg.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>

// Structure layouts and constants only: every entry point is reached through
// the table below, never linked.
#include <jpeglib.h>
#include <jerror.h>

#include "foundation/fmxMKzType.h"

namespace kz {

namespace {

// ---- The bound entry points

struct TKzLibJpegApi {
  decltype(&jpeg_std_error) std_error = nullptr;
  decltype(&jpeg_CreateDecompress) CreateDecompress = nullptr;
  decltype(&jpeg_CreateCompress) CreateCompress = nullptr;
  decltype(&jpeg_read_header) read_header = nullptr;
  decltype(&jpeg_start_decompress) start_decompress = nullptr;
  decltype(&jpeg_read_scanlines) read_scanlines = nullptr;
  decltype(&jpeg_finish_decompress) finish_decompress = nullptr;
  decltype(&jpeg_destroy_decompress) destroy_decompress = nullptr;
  decltype(&jpeg_set_defaults) set_defaults = nullptr;
  decltype(&jpeg_set_quality) set_quality = nullptr;
  decltype(&jpeg_start_compress) start_compress = nullptr;
  decltype(&jpeg_write_scanlines) write_scanlines = nullptr;
  decltype(&jpeg_write_marker) write_marker = nullptr;
  decltype(&jpeg_finish_compress) finish_compress = nullptr;
  decltype(&jpeg_destroy_compress) destroy_compress = nullptr;
  decltype(&jpeg_abort) abort = nullptr;
  decltype(&jpeg_resync_to_restart) resync_to_restart = nullptr;
  decltype(&jpeg_abort_decompress) abort_decompress = nullptr;
  decltype(&jpeg_abort_compress) abort_compress = nullptr;
  decltype(&jpeg_destroy) destroy = nullptr;
  decltype(&jpeg_set_colorspace) set_colorspace = nullptr;
  decltype(&jpeg_default_colorspace) default_colorspace = nullptr;
  decltype(&jpeg_quality_scaling) quality_scaling = nullptr;
  decltype(&jpeg_set_linear_quality) set_linear_quality = nullptr;
  decltype(&jpeg_simple_progression) simple_progression = nullptr;
  decltype(&jpeg_suppress_tables) suppress_tables = nullptr;
  decltype(&jpeg_calc_output_dimensions) calc_output_dimensions = nullptr;
  decltype(&jpeg_has_multiple_scans) has_multiple_scans = nullptr;
  decltype(&jpeg_input_complete) input_complete = nullptr;
  decltype(&jpeg_consume_input) consume_input = nullptr;
  decltype(&jpeg_save_markers) save_markers = nullptr;
  decltype(&jpeg_write_tables) write_tables = nullptr;
  decltype(&jpeg_write_raw_data) write_raw_data = nullptr;
  decltype(&jpeg_read_raw_data) read_raw_data = nullptr;
};

struct TKzLibJpegEntry {
  const char* Name;
  size_t Offset;  // of the slot in TKzLibJpegApi
  bool Required;
};

#define KZ_JPEG_ENTRY(sym, slot, req) {#sym, offsetof(TKzLibJpegApi, slot), req}
const TKzLibJpegEntry LibJpegEntries[] = {
    KZ_JPEG_ENTRY(jpeg_std_error, std_error, true),
    KZ_JPEG_ENTRY(jpeg_CreateDecompress, CreateDecompress, true),
    KZ_JPEG_ENTRY(jpeg_CreateCompress, CreateCompress, true),
    KZ_JPEG_ENTRY(jpeg_read_header, read_header, true),
    KZ_JPEG_ENTRY(jpeg_start_decompress, start_decompress, true),
    KZ_JPEG_ENTRY(jpeg_read_scanlines, read_scanlines, true),
    KZ_JPEG_ENTRY(jpeg_finish_decompress, finish_decompress, true),
    KZ_JPEG_ENTRY(jpeg_destroy_decompress, destroy_decompress, true),
    KZ_JPEG_ENTRY(jpeg_set_defaults, set_defaults, true),
    KZ_JPEG_ENTRY(jpeg_set_quality, set_quality, true),
    KZ_JPEG_ENTRY(jpeg_start_compress, start_compress, true),
    KZ_JPEG_ENTRY(jpeg_write_scanlines, write_scanlines, true),
    KZ_JPEG_ENTRY(jpeg_write_marker, write_marker, true),
    KZ_JPEG_ENTRY(jpeg_finish_compress, finish_compress, true),
    KZ_JPEG_ENTRY(jpeg_destroy_compress, destroy_compress, true),
    KZ_JPEG_ENTRY(jpeg_abort, abort, true),
    KZ_JPEG_ENTRY(jpeg_resync_to_restart, resync_to_restart, true),
    KZ_JPEG_ENTRY(jpeg_abort_decompress, abort_decompress, false),
    KZ_JPEG_ENTRY(jpeg_abort_compress, abort_compress, false),
    KZ_JPEG_ENTRY(jpeg_destroy, destroy, false),
    KZ_JPEG_ENTRY(jpeg_set_colorspace, set_colorspace, false),
    KZ_JPEG_ENTRY(jpeg_default_colorspace, default_colorspace, false),
    KZ_JPEG_ENTRY(jpeg_quality_scaling, quality_scaling, false),
    KZ_JPEG_ENTRY(jpeg_set_linear_quality, set_linear_quality, false),
    KZ_JPEG_ENTRY(jpeg_simple_progression, simple_progression, false),
    KZ_JPEG_ENTRY(jpeg_suppress_tables, suppress_tables, false),
    KZ_JPEG_ENTRY(jpeg_calc_output_dimensions, calc_output_dimensions, false),
    KZ_JPEG_ENTRY(jpeg_has_multiple_scans, has_multiple_scans, false),
    KZ_JPEG_ENTRY(jpeg_input_complete, input_complete, false),
    KZ_JPEG_ENTRY(jpeg_consume_input, consume_input, false),
    KZ_JPEG_ENTRY(jpeg_save_markers, save_markers, false),
    KZ_JPEG_ENTRY(jpeg_write_tables, write_tables, false),
    KZ_JPEG_ENTRY(jpeg_write_raw_data, write_raw_data, false),
    KZ_JPEG_ENTRY(jpeg_read_raw_data, read_raw_data, false),
};
#undef KZ_JPEG_ENTRY

// Only libraries of the 6.2 interface share our structure layouts; the
// probe below turns any other away.
std::vector<std::string>& LibraryNames() {
  static std::vector<std::string> names{"libjpeg.so.62", "libjpeg.so"};
  return names;
}
std::mutex& NamesLock() {
  static std::mutex m;
  return m;
}

std::mutex& ErrorLock() {
  static std::mutex m;
  return m;
}
std::string& ErrorText() {
  static std::string text;
  return text;
}

// ---- Error manager

constexpr int MaxScans = 500;  // progressive pictures with more scans are refused (decoding cost)
constexpr long MaxLibraryMemory = 512L << 20;

struct TKzJpegErrorMgr {
  jpeg_error_mgr pub;
  jmp_buf jump;
};

void StoreMessage(const char* Prefix, int Code, const char* Text) {
  KzLibJpegSetLastError(std::string(Prefix) + "[" + std::to_string(Code) + "] " + Text);
}

void JpegErrorExit(j_common_ptr cinfo) {
  {
    char text[JMSG_LENGTH_MAX];
    (*cinfo->err->format_message)(cinfo, text);
    StoreMessage("ERROR ", cinfo->err->msg_code, text);
  }
  longjmp(reinterpret_cast<TKzJpegErrorMgr*>(cinfo->err)->jump, 1);
}

void JpegOutputMessage(j_common_ptr cinfo) {
  char text[JMSG_LENGTH_MAX];
  (*cinfo->err->format_message)(cinfo, text);
  StoreMessage("OUTPUT ", cinfo->err->msg_code, text);
}

void JpegProgress(j_common_ptr cinfo) {
  if (!cinfo->is_decompressor) return;
  if (reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number <= MaxScans) return;
  KzLibJpegSetLastError("ERROR [0] more than " + std::to_string(MaxScans) + " scans");
  longjmp(reinterpret_cast<TKzJpegErrorMgr*>(cinfo->err)->jump, 1);
}

// ---- Binding

class TKzLibJpegBinding {
public:
  TKzLibJpegBinding() {
    std::vector<std::string> names;
    {
      std::lock_guard<std::mutex> g(NamesLock());
      names = LibraryNames();
    }
    for (const std::string& name : names) {
      if (Bind(name)) return;
    }
  }
  ~TKzLibJpegBinding() {
    if (Handle != nullptr) KzMFreeLibrary(Handle);
  }
  TKzLibJpegBinding(const TKzLibJpegBinding&) = delete;
  TKzLibJpegBinding& operator=(const TKzLibJpegBinding&) = delete;

  TKzLibJpegApi Api;
  bool Available = false;
  bool Extended = false;
  std::string Name;
  TModuleHandle Handle = nullptr;

private:
  bool Bind(const std::string& FileName) {
    TModuleHandle h = KzMLoadLibrary(FileName);
    if (h == nullptr) return false;
    TKzLibJpegApi api;
    for (const TKzLibJpegEntry& e : LibJpegEntries) {
      void* sym = KzMGetProcAddress(h, e.Name);
      if (sym == nullptr && e.Required) {
        KzMFreeLibrary(h);
        return false;
      }
      memcpy(reinterpret_cast<char*>(&api) + e.Offset, &sym, sizeof(sym));
    }
    if (!Probe(api)) {
      KzMFreeLibrary(h);
      return false;
    }
    Api = api;
    Handle = h;
    Name = FileName;
    Available = true;
    // jpeg_skip_scanlines exists only in libraries that also have the
    // extended (BGRA) colour spaces.
    Extended = KzMGetProcAddress(h, "jpeg_skip_scanlines") != nullptr;
    return true;
  }

  // The library refuses a structure size or version other than its own.
  static bool Probe(const TKzLibJpegApi& api) {
    jpeg_decompress_struct cinfo;
    memset(&cinfo, 0, sizeof(cinfo));
    TKzJpegErrorMgr jerr;
    cinfo.err = api.std_error(&jerr.pub);
    jerr.pub.error_exit = JpegErrorExit;
    jerr.pub.output_message = JpegOutputMessage;
    if (setjmp(jerr.jump)) return false;
    api.CreateDecompress(&cinfo, JPEG_LIB_VERSION, sizeof(cinfo));
    api.destroy_decompress(&cinfo);
    return true;
  }
};

TKzLibJpegBinding& Binding() {
  static TKzLibJpegBinding binding;
  return binding;
}

// The binding, or nullptr with the reason stored as the last error.
const TKzLibJpegBinding* BoundLibrary() {
  const TKzLibJpegBinding& b = Binding();
  if (b.Available) return &b;
  KzLibJpegSetLastError("libjpeg is not available");
  return nullptr;
}

// ---- Source manager: the stream, 4096 bytes at a time; a memory stream's
// bytes are used where they lie. libjpeg-turbo decodes Huffman data on its
// fast path only while 512 bytes per block of an MCU are buffered (3 KiB for
// 4:2:0), so a 4096-byte buffer would keep it on the slow path most of the
// time: reading a memory stream in place is what keeps decoding at
// TurboJPEG's speed.

constexpr size_t IOBufferSize = 4096;

struct TKzJpegSource {
  jpeg_source_mgr pub;
  TStream* Stream;
  int64_t Remaining;  // bytes the caller allowed, -1 for no limit
  bool Ended;
  JOCTET Buffer[IOBufferSize];
};

void SourceInit(j_decompress_ptr) {}
void SourceTerm(j_decompress_ptr) {}

boolean SourceFill(j_decompress_ptr cinfo) {
  auto* src = reinterpret_cast<TKzJpegSource*>(cinfo->src);
  int64_t want = static_cast<int64_t>(IOBufferSize);
  if (src->Remaining >= 0 && src->Remaining < want) want = src->Remaining;
  int64_t got = want > 0 ? src->Stream->Read(src->Buffer, want) : 0;
  if (got <= 0) {
    // The data ended early: finish the picture with an end-of-image marker.
    WARNMS(cinfo, JWRN_JPEG_EOF);
    src->Buffer[0] = 0xFF;
    src->Buffer[1] = JPEG_EOI;
    got = 2;
    src->Ended = true;
  } else if (src->Remaining >= 0) {
    src->Remaining -= got;
  }
  src->pub.next_input_byte = src->Buffer;
  src->pub.bytes_in_buffer = static_cast<size_t>(got);
  return TRUE;
}

void SourceSkip(j_decompress_ptr cinfo, long Count) {
  auto* src = reinterpret_cast<TKzJpegSource*>(cinfo->src);
  if (Count <= 0) return;
  while (Count > static_cast<long>(src->pub.bytes_in_buffer)) {
    Count -= static_cast<long>(src->pub.bytes_in_buffer);
    SourceFill(cinfo);
  }
  src->pub.next_input_byte += Count;
  src->pub.bytes_in_buffer -= static_cast<size_t>(Count);
}

// ---- Destination manager: the stream, 4096 bytes at a time

struct TKzJpegDest {
  jpeg_destination_mgr pub;
  TStream* Stream;
  JOCTET Buffer[IOBufferSize];
};

void DestInit(j_compress_ptr cinfo) {
  auto* dest = reinterpret_cast<TKzJpegDest*>(cinfo->dest);
  dest->pub.next_output_byte = dest->Buffer;
  dest->pub.free_in_buffer = IOBufferSize;
}

boolean DestEmpty(j_compress_ptr cinfo) {
  auto* dest = reinterpret_cast<TKzJpegDest*>(cinfo->dest);
  if (dest->Stream->Write(dest->Buffer, IOBufferSize) != static_cast<int64_t>(IOBufferSize))
    ERREXIT(cinfo, JERR_FILE_WRITE);
  dest->pub.next_output_byte = dest->Buffer;
  dest->pub.free_in_buffer = IOBufferSize;
  return TRUE;
}

void DestTerm(j_compress_ptr cinfo) {
  auto* dest = reinterpret_cast<TKzJpegDest*>(cinfo->dest);
  const int64_t n = static_cast<int64_t>(IOBufferSize - dest->pub.free_in_buffer);
  if (n > 0 && dest->Stream->Write(dest->Buffer, n) != n) ERREXIT(cinfo, JERR_FILE_WRITE);
}

void InitErrorManager(const TKzLibJpegApi& api, j_common_ptr cinfo, TKzJpegErrorMgr& jerr) {
  cinfo->err = api.std_error(&jerr.pub);
  jerr.pub.error_exit = JpegErrorExit;
  jerr.pub.output_message = JpegOutputMessage;
}

// Output rows that are not BGRA already are widened here.
void WidenRow(const uint8_t* s, uint32_t* d, uint32_t Width, int Components, bool AdobeInverted) {
  switch (Components) {
    case 1:
      for (uint32_t x = 0; x < Width; ++x) d[x] = 0xFF000000u | s[x] * 0x010101u;
      break;
    case 3:
      for (uint32_t x = 0; x < Width; ++x, s += 3) d[x] = 0xFF000000u | (s[0] << 16) | (s[1] << 8) | s[2];
      break;
    case 4:  // CMYK; Adobe writes it inverted
      for (uint32_t x = 0; x < Width; ++x, s += 4) {
        uint32_t c = s[0], m = s[1], y = s[2], k = s[3];
        if (!AdobeInverted) c = 255 - c, m = 255 - m, y = 255 - y, k = 255 - k;
        d[x] = 0xFF000000u | ((c * k / 255) << 16) | ((m * k / 255) << 8) | (y * k / 255);
      }
      break;
    default:
      break;
  }
}

}  // namespace

bool KzLibJpegAvailable() { return Binding().Available; }
std::string KzLibJpegLoadedName() { return Binding().Name; }
bool KzLibJpegHasExtendedColours() { return Binding().Extended; }

void KzLibJpegSetLibraryNames(const std::vector<std::string>& Names) {
  std::lock_guard<std::mutex> g(NamesLock());
  LibraryNames() = Names;
}

std::string KzLibJpegLastError() {
  std::lock_guard<std::mutex> g(ErrorLock());
  return ErrorText();
}

void KzLibJpegSetLastError(const std::string& Text) {
  std::lock_guard<std::mutex> g(ErrorLock());
  ErrorText() = Text;
}

namespace {

// One decompressor per thread, made on first use and kept from picture to
// picture: making one per frame costs the library's allocations and set-up
// every time. The library resets it for each picture; after an error it is
// made anew.
struct TKzJpegDecompressor {
  jpeg_decompress_struct cinfo;
  TKzJpegErrorMgr jerr;
  jpeg_progress_mgr progress;
  TKzJpegSource src;
  std::vector<uint8_t> Rows;  // output rows that are widened to BGRA
  const TKzLibJpegApi* Api = nullptr;
  bool Created = false;

  TKzJpegDecompressor() {
    memset(&cinfo, 0, sizeof(cinfo));
    memset(&progress, 0, sizeof(progress));
  }
  ~TKzJpegDecompressor() { Drop(); }
  TKzJpegDecompressor(const TKzJpegDecompressor&) = delete;
  TKzJpegDecompressor& operator=(const TKzJpegDecompressor&) = delete;

  void Drop() {
    if (Created) Api->destroy_decompress(&cinfo);
    Created = false;
  }
  // Ends the current picture; the object stays for the next one.
  void EndPicture() {
    if (!Created) return;
    if (Api->abort_decompress)
      Api->abort_decompress(&cinfo);
    else
      Drop();
  }
};

TKzJpegDecompressor& ThreadDecompressor() {
  thread_local auto d = std::make_unique<TKzJpegDecompressor>();
  return *d;
}

// What one decode reads and how it writes the picture.
struct TKzJpegJob {
  TStream* Stream = nullptr;     // read when the bytes below run out (nullptr: they are all)
  int64_t Count = -1;            // bytes the stream may give, -1 for no limit
  const uint8_t* Data = nullptr; // bytes handed over where they lie
  size_t Size = 0;
  TKzDecodeSize Want;
  bool Luma = false;             // luminance only, cheaply (see ReadJpegLuma)
};

// Decodes one picture into Bitmap; Unread receives the bytes read ahead of
// the picture's end and not used (0 when the data ended early).
bool Decompress(const TKzJpegJob& Job, TKzMCustomBitmap& Bitmap, int32_t* Denom, int64_t& Unread) {
  if (Denom != nullptr) *Denom = 1;
  Unread = 0;
  const TKzLibJpegBinding* b = BoundLibrary();
  if (b == nullptr) return false;
  const TKzLibJpegApi& api = b->Api;
  // Everything with a destructor lives outside the setjmp/longjmp span.
  TKzJpegDecompressor& d = ThreadDecompressor();
  jpeg_decompress_struct& cinfo = d.cinfo;
  TKzJpegSource* src = &d.src;
  if (setjmp(d.jerr.jump)) {
    d.Drop();
    return false;
  }
  if (!d.Created) {
    memset(&cinfo, 0, sizeof(cinfo));
    InitErrorManager(api, reinterpret_cast<j_common_ptr>(&cinfo), d.jerr);
    d.Api = &api;
    api.CreateDecompress(&cinfo, JPEG_LIB_VERSION, sizeof(cinfo));
    d.Created = true;
    cinfo.mem->max_memory_to_use = MaxLibraryMemory;
    d.progress.progress_monitor = JpegProgress;
    cinfo.progress = &d.progress;
  }

  src->Stream = Job.Stream;
  src->Remaining = Job.Stream != nullptr ? Job.Count : 0;
  src->Ended = false;
  src->pub.init_source = SourceInit;
  src->pub.fill_input_buffer = SourceFill;
  src->pub.skip_input_data = SourceSkip;
  src->pub.resync_to_restart = api.resync_to_restart;
  src->pub.term_source = SourceTerm;
  src->pub.next_input_byte = Job.Data;
  src->pub.bytes_in_buffer = Job.Size;
  cinfo.src = &src->pub;

  if (api.read_header(&cinfo, TRUE) != JPEG_HEADER_OK) {
    KzLibJpegSetLastError("ERROR [0] no image in the JPEG data");
    d.EndPicture();
    return false;
  }
  if (static_cast<int64_t>(cinfo.image_width) * cinfo.image_height > KzMaxImagePixels) {
    KzLibJpegSetLastError("ERROR [0] image too large: " + std::to_string(cinfo.image_width) + "x" +
                          std::to_string(cinfo.image_height));
    d.EndPicture();
    return false;
  }
  cinfo.scale_num = 1;
  // Progressive pictures decode every scan in full anyway: no gain worth the risk.
  cinfo.scale_denom = cinfo.progressive_mode
                          ? 1
                          : static_cast<unsigned>(KzJpegScaleFor(static_cast<int32_t>(cinfo.image_width),
                                                                 static_cast<int32_t>(cinfo.image_height), Job.Want));
  const bool cmyk = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
  // Luminance alone: the colour components are still parsed but neither
  // transformed nor upsampled.
  const bool luma =
      Job.Luma && (cinfo.jpeg_color_space == JCS_YCbCr || cinfo.jpeg_color_space == JCS_GRAYSCALE);
  const bool direct = b->Extended && !cmyk && !luma;
  if (luma) {
    cinfo.out_color_space = JCS_GRAYSCALE;
    cinfo.dct_method = JDCT_IFAST;
  } else if (cmyk) {
    cinfo.out_color_space = JCS_CMYK;
  } else if (direct) {
    cinfo.out_color_space = JCS_EXT_BGRA;
  } else if (cinfo.jpeg_color_space != JCS_GRAYSCALE) {
    cinfo.out_color_space = JCS_RGB;
  }
  api.start_decompress(&cinfo);

  const uint32_t width = cinfo.output_width;
  Bitmap.SetSize(static_cast<int32_t>(width), static_cast<int32_t>(cinfo.output_height));
  constexpr uint32_t MaxRows = 16;
  const size_t rowBytes = static_cast<size_t>(width) * cinfo.output_components;
  if (!direct && d.Rows.size() < rowBytes * MaxRows) d.Rows.resize(rowBytes * MaxRows);
  JSAMPROW rows[MaxRows];
  while (cinfo.output_scanline < cinfo.output_height) {
    const uint32_t y = cinfo.output_scanline;
    const uint32_t n = std::min<uint32_t>(MaxRows, cinfo.output_height - y);
    for (uint32_t i = 0; i < n; ++i)
      rows[i] = direct ? reinterpret_cast<JSAMPROW>(Bitmap.ScanLine(static_cast<int32_t>(y + i)))
                       : d.Rows.data() + i * rowBytes;
    const uint32_t got = api.read_scanlines(&cinfo, rows, n);
    if (!direct)
      for (uint32_t i = 0; i < got; ++i)
        WidenRow(rows[i], Bitmap.ScanLine(static_cast<int32_t>(y + i)), width, cinfo.output_components,
                 cinfo.saw_Adobe_marker);
  }
  api.finish_decompress(&cinfo);
  if (cinfo.scale_denom != 1)
    Bitmap.SetSourceSize(static_cast<int32_t>(cinfo.image_width), static_cast<int32_t>(cinfo.image_height));
  if (Denom != nullptr) *Denom = static_cast<int32_t>(cinfo.scale_denom);
  Unread = src->Ended ? 0 : static_cast<int64_t>(src->pub.bytes_in_buffer);
  Bitmap.Modified = Bitmap.ModifiedData = true;
  return true;
}

}  // namespace

bool ReadJpegStream(TStream& Stream, TKzMCustomBitmap& Bitmap, bool /*Flag*/, int64_t Count) {
  return ReadJpegStreamScaled(Stream, Bitmap, Count, TKzDecodeSize::Full());
}

bool ReadJpegStreamScaled(TStream& Stream, TKzMCustomBitmap& Bitmap, int64_t Count, TKzDecodeSize Want,
                          int32_t* Denom) {
  TKzJpegJob job;
  job.Want = Want;
  const int64_t start = Stream.Position();
  int64_t inPlace = 0;  // bytes handed over directly from a memory stream
  if (auto* m = dynamic_cast<TMemoryStream*>(&Stream)) {
    inPlace = std::max<int64_t>(0, m->Size() - start);
    if (Count > 0) inPlace = std::min(inPlace, Count);
    job.Data = m->Memory() + start;
    job.Size = static_cast<size_t>(inPlace);  // what follows them is the end of the data
  } else {
    job.Stream = &Stream;
    job.Count = Count > 0 ? Count : -1;
  }
  int64_t unread = 0;
  if (!Decompress(job, Bitmap, Denom, unread)) return false;
  // Leave the stream right after the picture: hand back what was read ahead.
  if (inPlace > 0) {
    Stream.SetPosition(start + inPlace - unread);
  } else if (unread > 0) {
    Stream.Seek(-unread, TSeekOrigin::soCurrent);
  }
  return true;
}

bool ReadJpegLuma(const uint8_t* Data, size_t Size, TKzMCustomBitmap& Bitmap, TKzDecodeSize Want,
                  int32_t* Denom) {
  if (Data == nullptr || Size == 0) {
    KzLibJpegSetLastError("ERROR [0] no data");
    return false;
  }
  TKzJpegJob job;
  job.Data = Data;
  job.Size = Size;
  job.Want = Want;
  job.Luma = true;
  int64_t unread = 0;
  return Decompress(job, Bitmap, Denom, unread);
}

namespace {

bool Compress(const TKzMCustomBitmap& Bitmap, TStream& Stream, int32_t Quality, const std::string& Comment,
              bool Compact) {
  const TKzLibJpegBinding* b = BoundLibrary();
  if (b == nullptr) return false;
  if (Bitmap.IsEmpty()) {
    KzLibJpegSetLastError("ERROR [0] empty picture");
    return false;
  }
  const TKzLibJpegApi& api = b->Api;
  auto dest = std::make_unique<TKzJpegDest>();
  std::vector<uint8_t> rowBuffer;
  jpeg_compress_struct cinfo;
  memset(&cinfo, 0, sizeof(cinfo));
  TKzJpegErrorMgr jerr;
  InitErrorManager(api, reinterpret_cast<j_common_ptr>(&cinfo), jerr);
  volatile bool created = false;
  if (setjmp(jerr.jump)) {
    if (created) api.destroy_compress(&cinfo);
    return false;
  }
  api.CreateCompress(&cinfo, JPEG_LIB_VERSION, sizeof(cinfo));
  created = true;
  dest->Stream = &Stream;
  dest->pub.init_destination = DestInit;
  dest->pub.empty_output_buffer = DestEmpty;
  dest->pub.term_destination = DestTerm;
  cinfo.dest = &dest->pub;
  cinfo.image_width = static_cast<JDIMENSION>(Bitmap.Width());
  cinfo.image_height = static_cast<JDIMENSION>(Bitmap.Height());
  const bool direct = b->Extended;
  cinfo.input_components = direct ? 4 : 3;
  cinfo.in_color_space = direct ? JCS_EXT_BGRX : JCS_RGB;
  api.set_defaults(&cinfo);
  api.set_quality(&cinfo, std::clamp(Quality, 1, 100), TRUE);
  if (Compact) {
    cinfo.optimize_coding = TRUE;
    cinfo.write_JFIF_header = FALSE;
  }
  api.start_compress(&cinfo, TRUE);
  if (!Comment.empty()) {
    const size_t len = std::min<size_t>(Comment.size(), 65533);
    api.write_marker(&cinfo, JPEG_COM, reinterpret_cast<const JOCTET*>(Comment.data()), static_cast<unsigned>(len));
  }
  if (!direct) rowBuffer.resize(static_cast<size_t>(Bitmap.Width()) * 3);
  JSAMPROW row[1];
  while (cinfo.next_scanline < cinfo.image_height) {
    const uint32_t* s = Bitmap.ScanLine(static_cast<int32_t>(cinfo.next_scanline));
    if (direct) {
      row[0] = reinterpret_cast<JSAMPROW>(const_cast<uint32_t*>(s));
    } else {
      uint8_t* d = rowBuffer.data();
      for (int32_t x = 0; x < Bitmap.Width(); ++x, d += 3) {
        d[0] = static_cast<uint8_t>(s[x] >> 16);
        d[1] = static_cast<uint8_t>(s[x] >> 8);
        d[2] = static_cast<uint8_t>(s[x]);
      }
      row[0] = rowBuffer.data();
    }
    api.write_scanlines(&cinfo, row, 1);
  }
  api.finish_compress(&cinfo);
  api.destroy_compress(&cinfo);
  return true;
}

}  // namespace

bool WriteJpegStream(const TKzMCustomBitmap& Bitmap, TStream& Stream, int32_t Quality, const std::string& Comment) {
  return Compress(Bitmap, Stream, Quality, Comment, false);
}

bool WriteCompactJpegStream(const TKzMCustomBitmap& Bitmap, TStream& Stream, int32_t Quality) {
  return Compress(Bitmap, Stream, Quality, std::string(), true);
}

bool WriteJpeg(const TKzMCustomBitmap& Bitmap, const std::string& FileName, int32_t Quality,
               const std::string& Comment) {
  if (!KzLibJpegAvailable()) return false;
  TFileStream f(FileName, TFileMode::fmCreate);
  return f.Valid() && WriteJpegStream(Bitmap, f, Quality, Comment);
}

}  // namespace kz
