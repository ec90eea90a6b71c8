// What a viewer sees of a document: its pictures, and its pictures with how
// long each stays, consecutive equal pictures joined (a frame that changes
// nothing adds its time to the picture before).
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "document/player.h"
#include "formats/png_rgba.h"

namespace fbtest {

// Every composited picture, as RGBA.
inline std::vector<std::vector<uint8_t>> pictures(fb::Animation& a) {
  std::vector<std::vector<uint8_t>> out;
  auto p = fb::startPlayer(a);
  for (fb::Frame* c = fb::firstPicture(*p); c; c = fb::nextPicture(*p))
    out.push_back(fb::canvasToRgba(*c));
  return out;
}

using Timeline = std::vector<std::pair<std::vector<uint8_t>, int64_t>>;

inline Timeline timeline(fb::Animation& a) {
  Timeline out;
  auto p = fb::startPlayer(a);
  for (fb::Frame* c = fb::firstPicture(*p); c; c = fb::nextPicture(*p)) {
    auto pic = fb::canvasToRgba(*c);
    if (!out.empty() && out.back().first == pic) out.back().second += c->delay;
    else out.emplace_back(std::move(pic), c->delay);
  }
  return out;
}

}  // namespace fbtest
