// The video library the AVI import and export rely on, built on FFmpeg:
// streams opened from files and read sample by sample (each sample
// decompressed to a packed device-independent bitmap in a requested format),
// streams created and written sample by sample (through the RIFF writer),
// and the compressed re-save of a stream, optionally interleaved with the
// audio of another file, with a per-percent callback that can abort.
//
// Results are 0 or an error code of avi::err, as the library reports them.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "formats/avi_riff.h"

namespace fb::avi {

// Loads FFmpeg on first use and silences its own log (AVIFileInit); false
// when it cannot be loaded, with the reason in `libraryError`.
bool libraryInit();
const std::string& libraryError();

// The compression record (AVICOMPRESSOPTIONS): eleven little-endian words.
struct CompressOptions {
  uint32_t fccType = 0;
  uint32_t fccHandler = 0;  // codec code; 0 = none (the samples are copied)
  uint32_t keyFrameEvery = 0;
  uint32_t quality = 0;  // 0..10000
  uint32_t bytesPerSecond = 0;
  uint32_t flags = 0;   // compressf::
  uint32_t format = 0;  // a pointer once; meaningless when stored
  uint32_t formatSize = 0;
  uint32_t parms = 0;  // a pointer once; meaningless when stored
  uint32_t parmsSize = 0;
  uint32_t interleaveEvery = 0;
  friend bool operator==(const CompressOptions&, const CompressOptions&) = default;
};
namespace compressf {
constexpr uint32_t Interleave = 0x1;
constexpr uint32_t DataRate = 0x2;
constexpr uint32_t KeyFrames = 0x4;
constexpr uint32_t Valid = 0x8;
}  // namespace compressf

// The run-length codec is our own; the others are FFmpeg's encoders.
constexpr uint32_t kHandlerRle8 = fourcc("mrle");
constexpr uint32_t kHandlerVideo1 = fourcc("msvc");

// An encoder that can write into AVI files, for the "custom" choice.
struct EncoderInfo {
  uint32_t fccHandler = 0;
  std::string name;         // FFmpeg's short name
  std::string description;  // its long name
};
std::vector<EncoderInfo> availableEncoders();
// True when a sample stream can be compressed with this handler code.
bool encoderAvailable(uint32_t fccHandler);

// A stream opened from a file for reading (AVIStreamOpenFromFile).
class Stream {
 public:
  // Opens the first stream of `type` (kVideo or kAudio) of `path`. Video is
  // read from AVI files only; audio from any common audio or video file.
  // Null (with `error` set) when the file cannot be read or has no such stream.
  static std::unique_ptr<Stream> openFromFile(const std::string& path, uint32_t type,
                                              uint32_t& error);
  ~Stream();
  Stream(const Stream&) = delete;
  Stream& operator=(const Stream&) = delete;

  // AVIStreamReadFormat: BITMAPINFOHEADER (+ colour table) or WAVEFORMATEX.
  const std::vector<uint8_t>& format() const;
  // AVIStreamInfo.
  const StreamHeader& info() const;
  int64_t start() const;
  int64_t length() const;

  // AVIStreamFindSample(position, FIND_NEXT | FIND_ANY): the first sample at
  // or after `position` that holds data; -1 when there is none.
  int64_t findNextSample(int64_t position);
  // Milliseconds from the stream's start, and back.
  int64_t sampleToTime(int64_t sample) const;
  int64_t timeToSample(int64_t milliseconds) const;

  // AVIStreamGetFrameOpen for bitmaps of `bitCount` (8, 16, 24 or 32) bits.
  // err::NoCompressor when there is no decoder for the stream.
  uint32_t getFrameOpen(int bitCount);
  // AVIStreamGetFrame: the picture shown at `sample` as a packed bitmap
  // (header, colour table, rows bottom-up). 8-bit pictures come only from
  // indexed video; others are delivered with 24 bits. Null when the sample
  // cannot be decompressed. Valid until the next call.
  const std::vector<uint8_t>* getFrame(int64_t sample);
  void getFrameClose();

  struct Impl;

 private:
  Stream();
  std::unique_ptr<Impl> impl_;
  friend uint32_t saveCompressed(const std::string&, Stream&, const CompressOptions&, Stream*,
                                 const std::function<bool(int)>&);
};

// AVISaveV: writes `dest` from the video stream `video` compressed with
// `options` (a handler of 0 copies the samples) and, when given, the audio
// stream `audio` interleaved (copied when an AVI file can hold its codec,
// else as 16-bit PCM). `percent` is called as the work advances; returning
// false aborts with err::UserAbort. On any error `dest` is deleted.
uint32_t saveCompressed(const std::string& dest, Stream& video, const CompressOptions& options,
                        Stream* audio, const std::function<bool(int)>& percent);

}  // namespace fb::avi
