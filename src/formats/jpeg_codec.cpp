#include "formats/jpeg_codec.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <new>

// jpeglib.h needs size_t and FILE declared first.
#include <jerror.h>
#include <jpeglib.h>

#include "document/bitmap.h"

namespace fb {
namespace {

// libjpeg reports errors by calling error_exit, which must not return: it
// jumps back to the call that started the work. Everything that lives
// across that jump is plain data held by the caller.
struct ErrorManager {
  jpeg_error_mgr mgr;
  std::jmp_buf jump;
  bool outOfMemory;
  // Warnings: the data ended, and the decoder needed bits it did not have.
  bool endOfData = false, missingBits = false;
};

[[noreturn]] void onError(j_common_ptr cinfo) {
  auto* e = reinterpret_cast<ErrorManager*>(cinfo->err);
  e->outOfMemory = cinfo->err->msg_code == JERR_OUT_OF_MEMORY;
  std::longjmp(e->jump, 1);
}
void onMessage(j_common_ptr) {}
// libjpeg goes on past data that ran out, painting grey: a file cut short
// would read as a whole picture.
void onEmit(j_common_ptr cinfo, int level) {
  if (level >= 0) return;  // traces, not warnings
  ++cinfo->err->num_warnings;  // as libjpeg's own counts them
  auto* e = reinterpret_cast<ErrorManager*>(cinfo->err);
  if (cinfo->err->msg_code == JWRN_JPEG_EOF) e->endOfData = true;
  if (cinfo->err->msg_code == JWRN_HIT_MARKER) e->missingBits = true;
}

// Progressive files can hold any number of scans, each costing a pass over
// the whole picture: a few hundred is far more than any encoder writes.
constexpr int kMaxScans = 500;
void limitScans(j_common_ptr cinfo) {
  auto* d = reinterpret_cast<j_decompress_ptr>(cinfo);
  if (d->input_scan_number > kMaxScans) {
    cinfo->err->msg_code = JERR_BAD_PROGRESSION;
    cinfo->err->error_exit(cinfo);
  }
}

// Decoder memory beyond the pixels themselves (coefficient buffers of
// progressive files) stays within this.
constexpr long kMaxDecoderMemory = 1536L << 20;

struct DecodeJob {
  const uint8_t* data = nullptr;
  size_t size = 0;
  PixelBudget* budget = nullptr;
  Picture* out = nullptr;
  CodecStatus status = CodecStatus::Ok;
  uint8_t* row = nullptr;  // malloc'd CMYK row
};

// Runs the decoder; false with job->status set on failure.
bool runDecoder(DecodeJob* job) {
  jpeg_decompress_struct cinfo;
  ErrorManager err;
  cinfo.err = jpeg_std_error(&err.mgr);
  err.mgr.error_exit = onError;
  err.mgr.output_message = onMessage;
  err.mgr.emit_message = onEmit;
  err.outOfMemory = false;
  jpeg_progress_mgr progress;
  progress.progress_monitor = limitScans;
  if (setjmp(err.jump)) {
    jpeg_destroy_decompress(&cinfo);
    if (job->status == CodecStatus::Ok)
      job->status = err.outOfMemory ? CodecStatus::NoMemory : CodecStatus::Corrupt;
    return false;
  }
  jpeg_create_decompress(&cinfo);
  cinfo.progress = &progress;
  cinfo.mem->max_memory_to_use = kMaxDecoderMemory;
  jpeg_mem_src(&cinfo, job->data, static_cast<unsigned long>(job->size));
  jpeg_save_markers(&cinfo, JPEG_APP0 + 1, 0xFFFF);
  jpeg_read_header(&cinfo, TRUE);

  const bool cmyk = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
  cinfo.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_RGBA;
  const JDIMENSION w = cinfo.image_width, h = cinfo.image_height;
  if (w > 0x7FFFFFFF || h > 0x7FFFFFFF) {
    job->status = CodecStatus::TooLarge;
    std::longjmp(err.jump, 1);
  }
  job->status =
      allocatePixels(*job->out, static_cast<int>(w), static_cast<int>(h), false, job->budget);
  if (job->status != CodecStatus::Ok) std::longjmp(err.jump, 1);
  if (cmyk) {
    job->row = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(w) * 4));
    if (!job->row) {
      job->status = CodecStatus::NoMemory;
      std::longjmp(err.jump, 1);
    }
  }
  jpeg_start_decompress(&cinfo);
  if (cinfo.output_width != w || cinfo.output_height != h) {
    job->status = CodecStatus::Corrupt;
    std::longjmp(err.jump, 1);
  }
  // Adobe's files store CMYK inverted (255 = no ink).
  const bool inverted = cinfo.saw_Adobe_marker;
  while (cinfo.output_scanline < h) {
    uint8_t* dst = job->out->row(static_cast<int>(cinfo.output_scanline));
    JSAMPROW rows[1] = {cmyk ? job->row : dst};
    jpeg_read_scanlines(&cinfo, rows, 1);
    if (!cmyk) continue;
    for (JDIMENSION x = 0; x < w; ++x) {
      const uint8_t* s = job->row + 4 * x;
      const int k = inverted ? s[3] : 255 - s[3];
      for (int c = 0; c < 3; ++c) {
        const int ink = inverted ? s[c] : 255 - s[c];
        dst[4 * x + c] = static_cast<uint8_t>((ink * k + 127) / 255);
      }
      dst[4 * x + 3] = 255;
    }
  }
  // Only the end marker missing is harmless; pixels that were never stored are not.
  if (err.endOfData && err.missingBits) {
    job->status = CodecStatus::Corrupt;
    std::longjmp(err.jump, 1);
  }
  // Saved markers live in the image's memory, which finishing frees.
  int orientation = 0;
  for (jpeg_saved_marker_ptr m = cinfo.marker_list; m && !orientation; m = m->next)
    if (m->marker == JPEG_APP0 + 1) orientation = exifOrientation(m->data, m->data_length);
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  if (orientation && !applyOrientation(*job->out, orientation)) {
    job->status = CodecStatus::NoMemory;
    return false;
  }
  return true;
}

// Output into a malloc'd buffer that stays ours however the encoder ends.
// (libjpeg's own memory destination frees its first buffer when it grows and
// hands the new one over only on success: after an error mid-way the caller
// holds a freed pointer.)
struct Destination {
  jpeg_destination_mgr pub{};
  unsigned char* buffer = nullptr;
  size_t size = 0;
};

// Called when the buffer is full (and once at the start, when it is empty).
boolean growDestination(j_compress_ptr cinfo) {
  auto* d = reinterpret_cast<Destination*>(cinfo->dest);
  const size_t grown = d->size ? 2 * d->size : 4096;
  auto* p = static_cast<unsigned char*>(std::realloc(d->buffer, grown));
  if (!p) ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 0);
  d->pub.next_output_byte = p + d->size;
  d->pub.free_in_buffer = grown - d->size;
  d->buffer = p;
  d->size = grown;
  return TRUE;
}
void startDestination(j_compress_ptr cinfo) {
  growDestination(cinfo);
}
void endDestination(j_compress_ptr) {}

struct EncodeJob {
  const Picture* picture = nullptr;
  int quality = 75;
  Destination dest;        // its buffer is freed by the caller
  uint8_t* row = nullptr;  // malloc'd RGB row
  bool outOfMemory = false;
};

bool runEncoder(EncodeJob* job) {
  jpeg_compress_struct cinfo;
  ErrorManager err;
  cinfo.err = jpeg_std_error(&err.mgr);
  err.mgr.error_exit = onError;
  err.mgr.output_message = onMessage;
  err.outOfMemory = false;
  if (setjmp(err.jump)) {
    jpeg_destroy_compress(&cinfo);
    job->outOfMemory = err.outOfMemory;
    return false;
  }
  jpeg_create_compress(&cinfo);
  job->dest.pub.init_destination = startDestination;
  job->dest.pub.empty_output_buffer = growDestination;
  job->dest.pub.term_destination = endDestination;
  cinfo.dest = &job->dest.pub;
  const Picture& p = *job->picture;
  cinfo.image_width = static_cast<JDIMENSION>(p.width);
  cinfo.image_height = static_cast<JDIMENSION>(p.height);
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, std::clamp(job->quality, 1, 100), TRUE);
  // Full-resolution colour: animation frames are mostly flat colours with
  // sharp edges, which halved colour smears.
  for (int c = 0; c < cinfo.num_components; ++c)
    cinfo.comp_info[c].h_samp_factor = cinfo.comp_info[c].v_samp_factor = 1;
  jpeg_start_compress(&cinfo, TRUE);
  while (cinfo.next_scanline < cinfo.image_height) {
    const uint8_t* s = p.row(static_cast<int>(cinfo.next_scanline));
    for (int x = 0; x < p.width; ++x) {
      Rgb c;
      if (p.indexed) {
        c = s[x] < p.palette.size() ? p.palette[s[x]] : Rgb{};
      } else {
        c = Rgb{s[4 * x], s[4 * x + 1], s[4 * x + 2]};
      }
      job->row[3 * x] = c.r;
      job->row[3 * x + 1] = c.g;
      job->row[3 * x + 2] = c.b;
    }
    JSAMPROW rows[1] = {job->row};
    jpeg_write_scanlines(&cinfo, rows, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  return true;
}

}  // namespace

int exifOrientation(const uint8_t* d, size_t n) {
  static const uint8_t kExif[6] = {'E', 'x', 'i', 'f', 0, 0};
  if (n < 14 || !std::equal(kExif, kExif + 6, d)) return 0;
  const uint8_t* t = d + 6;  // the TIFF header
  const size_t size = n - 6;
  bool little;
  if (t[0] == 'I' && t[1] == 'I')
    little = true;
  else if (t[0] == 'M' && t[1] == 'M')
    little = false;
  else
    return 0;
  auto u16 = [&](size_t at) -> uint32_t {
    return little ? t[at] | t[at + 1] << 8 : t[at] << 8 | t[at + 1];
  };
  auto u32 = [&](size_t at) -> uint32_t {
    return little ? u16(at) | u16(at + 2) << 16 : u16(at) << 16 | u16(at + 2);
  };
  if (u16(2) != 42) return 0;
  const uint32_t ifd = u32(4);
  if (ifd > size || size - ifd < 2) return 0;
  const uint32_t count = u16(ifd);
  for (uint32_t i = 0; i < count; ++i) {
    const size_t at = ifd + 2 + 12 * size_t{i};
    if (at + 12 > size) return 0;
    if (u16(at) != 0x0112) continue;
    // SHORT, one value, held in the entry itself.
    if (u16(at + 2) != 3 || u32(at + 4) != 1) return 0;
    const uint32_t v = u16(at + 8);
    return v >= 1 && v <= 8 ? static_cast<int>(v) : 0;
  }
  return 0;
}

CodecStatus decodeJpeg(const uint8_t* data, size_t size, PixelBudget* budget, Picture& out) {
  out = Picture{};
  if (size < 4 || data[0] != 0xFF || data[1] != 0xD8) return CodecStatus::Corrupt;
  DecodeJob job;
  job.data = data;
  job.size = size;
  job.budget = budget;
  job.out = &out;
  out.hasAlpha = false;
  const bool ok = runDecoder(&job);
  std::free(job.row);
  if (!ok) {
    out.pixels.clear();
    return job.status == CodecStatus::Ok ? CodecStatus::Corrupt : job.status;
  }
  return CodecStatus::Ok;
}

CodecStatus encodeJpeg(const Picture& picture, int quality, std::vector<uint8_t>& out) {
  // The format's own limit on each side.
  if (picture.width <= 0 || picture.height <= 0 || picture.width > 65500 || picture.height > 65500)
    return CodecStatus::TooLarge;
  EncodeJob job;
  job.picture = &picture;
  job.quality = quality;
  job.row = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(picture.width) * 3));
  if (!job.row) return CodecStatus::NoMemory;
  const bool ok = runEncoder(&job);
  std::free(job.row);
  CodecStatus status = ok                ? CodecStatus::Ok
                       : job.outOfMemory ? CodecStatus::NoMemory
                                         : CodecStatus::Corrupt;
  if (ok) {
    try {
      out.assign(job.dest.buffer, job.dest.buffer + (job.dest.size - job.dest.pub.free_in_buffer));
    } catch (const std::bad_alloc&) {
      status = CodecStatus::NoMemory;
    }
  }
  std::free(job.dest.buffer);
  return status;
}

}  // namespace fb
