// Flash movies from documents: every picture a viewer sees, at its timing.
#include "formats/image_files.h"
#include "formats/picture_frames.h"
#include "formats/swf_codec.h"

namespace fb {

bool WriteSwfFile(const std::string& path, Animation& a, Progress* progress, uint32_t timeBase) {
  std::vector<Picture> pictures;
  std::vector<uint8_t> bytes;
  CodecStatus s = composedPictures(a, pictures, progress, timeBase);
  if (s == CodecStatus::Ok) {
    // A picture that repeats the one before only lengthens it.
    std::vector<int> delays;
    std::vector<const Picture*> shown;
    for (const Picture& p : pictures) {
      if (!shown.empty() && shown.back()->pixels == p.pixels) {
        delays.back() += std::max(p.delay, 0);
        continue;
      }
      shown.push_back(&p);
      delays.push_back(std::max(p.delay, 0));
    }
    const SwfTiming timing = swfTiming(delays);
    SwfMovie movie;
    movie.width = a.width;
    movie.height = a.height;
    movie.frameRate = swfFrameRate(timing.period);
    movie.playOnce = a.playCount == 1;
    for (size_t i = 0; i < shown.size(); ++i) movie.shots.push_back({shown[i], timing.frames[i]});
    s = encodeSwf(movie, bytes);
  }
  return finishWrite(path, s, bytes, "SWF");
}

}  // namespace fb
