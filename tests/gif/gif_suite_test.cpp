// The GIF conformance suite: every test file read and composited, compared
// with the expected pictures.
//
// The suite follows browser rules in two places where this program follows
// its own: pixels no frame has covered, and "restore to background", are
// transparent there but show the background colour here (unless the frame
// that fills them is transparent). Those pixels are checked against our rule
// instead: the canvas holds the background index and shows its colour.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

#include "document/player.h"
#include "formats/png_rgba.h"
#include "base/reporter.h"
#include "testutil.h"

using namespace fb;

namespace {

using Ini = std::map<std::string, std::map<std::string, std::string>>;

Ini readIni(const std::string& path) {
  Ini ini;
  std::ifstream in(path);
  std::string line, section;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    if (line[0] == '[') {
      section = line.substr(1, line.find(']') - 1);
      continue;
    }
    auto eq = line.find('=');
    if (eq == std::string::npos) continue;
    auto trim = [](std::string s) {
      while (!s.empty() && s.back() == ' ') s.pop_back();
      while (!s.empty() && s.front() == ' ') s.erase(s.begin());
      return s;
    };
    ini[section][trim(line.substr(0, eq))] = trim(line.substr(eq + 1));
  }
  return ini;
}

std::vector<std::string> split(const std::string& s) {
  std::vector<std::string> out;
  std::stringstream ss(s);
  std::string item;
  while (std::getline(ss, item, ','))
    if (!item.empty()) out.push_back(item);
  return out;
}

// The delay each image's graphic control extension gives (0 without one), in
// file order, read straight from the file: the document gives images without
// one the default delay.
std::vector<int> imageDelays(const std::vector<uint8_t>& d) {
  std::vector<int> delays;
  size_t p = 13;
  if (d.size() < p) return delays;
  if (d[10] & 0x80) p += 3u * (2u << (d[10] & 7));
  int pending = 0;
  auto skipSubBlocks = [&] {
    while (p < d.size() && d[p]) p += d[p] + 1u;
    ++p;
  };
  while (p < d.size()) {
    uint8_t c = d[p++];
    if (c == 0x21 && p < d.size()) {
      uint8_t label = d[p++];
      if (label == 0xF9 && p + 4 < d.size()) pending = d[p + 2] | (d[p + 3] << 8);
      skipSubBlocks();
    } else if (c == 0x2C && p + 9 <= d.size()) {
      uint8_t flags = d[p + 8];
      p += 9;
      if (flags & 0x80) p += 3u * (2u << (flags & 7));
      ++p;
      skipSubBlocks();
      delays.push_back(pending);
      pending = 0;
    } else {
      break;
    }
  }
  return delays;
}

std::vector<std::string> testNames() {
  std::vector<std::string> names;
  std::ifstream in(fbtest::dataPath("gif-suite/TESTS"));
  std::string n;
  while (std::getline(in, n))
    if (!n.empty()) names.push_back(n);
  return names;
}

class GifSuite : public ::testing::TestWithParam<std::string> {};

// Where this program's rules give another result than the suite expects.
struct Deviation {
  const char* test;
  const char* rule;
  int result;  // our reader's result
  int frames;  // frames in the document
};
const Deviation kDeviations[] = {
    {"no-data", "a file without images reads as a document without frames", kReadComplete, 0},
    {"image-zero-width", "an image without its code-size byte is corrupt", kReadFailed, 0},
    {"image-zero-height", "an image without its code-size byte is corrupt", kReadFailed, 0},
    {"image-zero-size", "an image without its code-size byte is corrupt", kReadFailed, 0},
    {"max-codes", "a minimum code size above 8 is corrupt", kReadFailed, 0},
    {"loop-buffer", "the loop sub-block must be followed by the terminator", kReadFailed, 0},
    {"loop-buffer_max", "the loop sub-block must be followed by the terminator", kReadFailed, 0},
};

const Deviation* deviation(const std::string& name) {
  for (const auto& d : kDeviations)
    if (name == d.test) return &d;
  return nullptr;
}

}  // namespace

TEST_P(GifSuite, FramesMatch) {
  const std::string name = GetParam();
  Ini conf = readIni(fbtest::dataPath("gif-suite/" + name + ".conf"));
  auto& cfg = conf["config"];
  auto frames = split(cfg["frames"]);

  RecordingReporter rec;
  ScopedReporter scope(rec);
  std::unique_ptr<Animation> a;
  int result = fbtest::readGifPath(fbtest::dataPath("gif-suite/" + cfg["input"]), a);

  if (const Deviation* d = deviation(name)) {
    EXPECT_EQ(result, d->result) << d->rule;
    if (result == kReadFailed) {
      EXPECT_EQ(a, nullptr);
      EXPECT_TRUE(rec.contains("Unable to read file successfully.")) << d->rule;
    } else {
      ASSERT_TRUE(a);
      EXPECT_EQ(a->frameCount(), d->frames) << d->rule;
    }
    return;
  }

  if (frames.empty()) {
    // The suite rejects these outright. Here they may fail with a message or
    // read what the rules allow; either way, no crash and a sound document.
    if (result == kReadFailed) {
      EXPECT_EQ(a, nullptr);
      EXPECT_FALSE(rec.entries().empty()) << "a failure always says why";
    } else {
      ASSERT_TRUE(a);
      auto p = startPlayer(*a);
      int n = 0;
      for (Frame* c = firstPicture(*p); c; c = nextPicture(*p)) ++n;
      EXPECT_EQ(n, a->frameCount());
    }
    return;
  }

  ASSERT_EQ(result, kReadComplete) << name;
  EXPECT_TRUE(rec.entries().empty()) << rec.texts()[0];

  // The suite's screen is ours before it grows to cover frames placed beyond it.
  int confW = std::stoi(cfg["width"]), confH = std::stoi(cfg["height"]);
  Extent e = frameExtent(*a);
  EXPECT_EQ(a->width, std::max(confW, e.width));
  EXPECT_EQ(a->height, std::max(confH, e.height));

  // Loop counts come only from the NETSCAPE2.0 extension; files without one
  // (the suite's "forced" animations, other applications' loop blocks) play once.
  const std::string loop = cfg["loop-count"];
  bool forced = cfg["force-animation"] == "yes";
  auto bytes = fbtest::readBytes(fbtest::dataPath("gif-suite/" + cfg["input"]));
  const std::string tag = "NETSCAPE2.0";
  bool netscape = std::search(bytes.begin(), bytes.end(), tag.begin(), tag.end()) != bytes.end();
  int plays = loop == "infinite" ? 0 : loop == "0" ? 1 : std::stoi(loop) + 1;
  if (!netscape) plays = 1;
  EXPECT_EQ(a->playCount, plays);

  // Every image is a frame here. A viewer shows the screen after each image
  // with a delay (all of them for the suite's forced animations) and after the
  // last: those are the suite's frames.
  const Palette* global = a->globalPalette.get();
  auto delays = imageDelays(bytes);
  ASSERT_EQ(static_cast<int>(delays.size()), a->frameCount());
  auto player = startPlayer(*a);
  size_t shown = 0;
  int images = 0;
  for (Frame* c = firstPicture(*player); c; c = nextPicture(*player)) {
    ++images;
    Frame* image = frameAt(*a, player->index);
    bool last = nextFrame(image) == nullptr;
    if (!forced && delays[static_cast<size_t>(player->index)] == 0 && !last) continue;
    ASSERT_LT(shown, frames.size()) << "more pictures than the suite shows";
    auto& section = conf[frames[shown]];
    if (section.count("delay")) {
      EXPECT_EQ(c->delay, std::stoi(section["delay"])) << shown;
    }
    auto want = fbtest::readBytes(fbtest::dataPath("gif-suite/" + section["pixels"]));
    ASSERT_EQ(want.size(), static_cast<size_t>(confW) * confH * 4);
    auto got = canvasToRgba(*c);
    int mismatches = 0;
    for (int y = 0; y < confH; ++y) {
      for (int x = 0; x < confW; ++x) {
        size_t k = (static_cast<size_t>(y) * confW + x) * 4;
        size_t g = (static_cast<size_t>(y) * c->width + x) * 4;
        bool same = std::equal(want.begin() + static_cast<long>(k),
                               want.begin() + static_cast<long>(k + 4),
                               got.begin() + static_cast<long>(g));
        if (same) continue;
        if (want[k + 3] == 0 && got[g + 3] == 255) {
          // Our rule: the background index, in its colour.
          uint8_t index = c->dib->row(y)[x];
          Rgb colour = global && index < global->count ? (*global)[index] : Rgb{};
          if (index == a->backgroundIndex && got[g] == colour.r && got[g + 1] == colour.g &&
              got[g + 2] == colour.b)
            continue;
        }
        if (++mismatches <= 3)
          ADD_FAILURE() << name << " picture " << shown << " pixel " << x << "," << y << ": got "
                        << int(got[g]) << "," << int(got[g + 1]) << "," << int(got[g + 2]) << ","
                        << int(got[g + 3]) << " want " << int(want[k]) << "," << int(want[k + 1])
                        << "," << int(want[k + 2]) << "," << int(want[k + 3]);
      }
    }
    EXPECT_EQ(mismatches, 0) << name << " picture " << shown;
    ++shown;
  }
  EXPECT_EQ(images, a->frameCount());
  EXPECT_EQ(shown, frames.size());
}

INSTANTIATE_TEST_SUITE_P(Conformance, GifSuite, ::testing::ValuesIn(testNames()),
                         [](const auto& info) {
                           std::string n = info.param;
                           for (char& ch : n)
                             if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
                           return n;
                         });
