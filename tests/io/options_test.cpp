// The one bridge from preference words and stored settings to the options the
// engine takes: each word reaches the option it stands for.
#include "io/options.h"

#include <gtest/gtest.h>

#include "base/prefs.h"
#include "base/settings_file.h"
#include "imaging/fixed_palette.h"

using namespace fb;

TEST(Options, DefaultsMatchTheStoredDefaults) {
  // With nothing stored, the bridge gives what the engine assumes without it.
  DocumentDefaults d = documentDefaultsFromPreferences();
  EXPECT_EQ(d.delay, DocumentDefaults().delay);
  EXPECT_EQ(d.playCount, DocumentDefaults().playCount);
  EXPECT_EQ(d.timeBase, DocumentDefaults().timeBase);
  MergeOptions m = mergeOptionsFromPreferences();
  EXPECT_EQ(m.storedMethod, MergeOptions().storedMethod);
  EXPECT_EQ(m.sizeRule, MergeOptions().sizeRule);
  EXPECT_EQ(m.keep24Bit, MergeOptions().keep24Bit);
  EXPECT_FALSE(m.fixedPalette);
  GifWriteOptions g = gifWriteOptionsFromPreferences();
  EXPECT_EQ(g.signature, GifWriteOptions().signature);
  EXPECT_TRUE(g.sign);
  EXPECT_EQ(optimizeOptionsFromPreferences(), 0x46Eu);
}

TEST(Options, EveryWordReachesItsOption) {
  prefSet(pref::DefaultDelay, 7);
  prefSet(pref::DefaultPlayCount, 3);
  prefSet(pref::TimeBase, 10);
  prefSet(pref::MergeMethod, 0x460110);
  prefSet(pref::SizeConflict, 1);  // read as "grow, ask every time"
  prefSet(pref::GeneralOptions, gen::Keep24Bit | gen::NoSignature | gen::KeepInterlace |
                                    gen::AviUncompressed | gen::ClipWithoutAsking);
  prefSet(pref::MoreOptions, more::PngAlways24 | more::FilmstripSizeInName | more::AviFixedRate |
                                 more::TransparentOnLoad);
  prefSet(pref::AviFrameRate, 250000);
  prefSet(pref::TransparentOnLoad, 0x030201);
  prefSet(pref::OptimizeOptions, 0x66);
  settings().setString("Sig", std::string(300, 's'));
  Palette fixed;
  fixed.count = 2;
  fixed[1] = {9, 8, 7};
  ASSERT_TRUE(storeFixedPalette(fixed));

  OpenOptions o = openOptionsFromPreferences();
  EXPECT_EQ(o.defaults.delay, 7);
  EXPECT_EQ(o.defaults.playCount, 3);
  EXPECT_EQ(o.defaults.timeBase, 10u);
  EXPECT_TRUE(o.keepInterlace);
  EXPECT_EQ(o.merge.storedMethod, 0x460110u);
  EXPECT_EQ(o.merge.sizeRule, 36u);
  EXPECT_TRUE(o.merge.keep24Bit);
  EXPECT_EQ(o.merge.defaultPlayCount, 3);
  ASSERT_TRUE(o.merge.fixedPalette);
  EXPECT_EQ(*o.merge.fixedPalette, fixed);
  EXPECT_TRUE(o.transparentOnLoad);
  EXPECT_EQ(o.transparentColour, (Rgb{1, 2, 3}));

  SaveOptions s = saveOptionsFromPreferences();
  EXPECT_EQ(s.gif.timeBase, 10u);
  EXPECT_FALSE(s.gif.sign);
  EXPECT_EQ(s.gif.signature.size(), 255u) << "a signature longer than a comment block is cut";
  EXPECT_TRUE(s.pngAlways24);
  EXPECT_TRUE(s.filmstripSizeInName);
  EXPECT_TRUE(s.clipWithoutAsking);
  EXPECT_TRUE(s.avi.uncompressed);
  EXPECT_TRUE(s.avi.fixedRate);
  EXPECT_EQ(s.avi.frameRateX10000, 250000u);
  EXPECT_EQ(optimizeOptionsFromPreferences(), 0x66u);

  // A time base of 0 stored is the default one.
  prefSet(pref::TimeBase, 0);
  EXPECT_EQ(documentDefaultsFromPreferences().timeBase, 100u);
}
