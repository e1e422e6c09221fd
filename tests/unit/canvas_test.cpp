// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
#include "image/canvas.h"

#include <gtest/gtest.h>

#include <limits>

#include "image/pixel_scale.h"
#include "tests/support/test_support.h"

namespace dotloom {
namespace {

using testing::kGrey;

bool AllPixelsAre(const Canvas& canvas, Colour colour) {
  for (int y = 0; y < Canvas::kHeight; ++y) {
    for (int x = 0; x < Canvas::kWidth; ++x) {
      if (canvas.Point(x, y) != colour) return false;
    }
  }
  return true;
}

// The whole device pixels per canvas pixel at a display's scale: Qt's device-pixel ratio, or
// the Windows dpi / 96.
TEST(CanvasTest, PixelScaleIsTheDisplayScaleRoundedHalvesUp) {
  struct Case {
    double display_scale;
    int pixel_scale;
  };
  for (const Case& c :
       {Case{1.0, 1}, Case{1.25, 1}, Case{120 / 96.0, 1}, Case{1.49, 1}, Case{143 / 96.0, 1},
        Case{1.5, 2}, Case{144 / 96.0, 2}, Case{1.75, 2}, Case{2.0, 2}, Case{2.25, 2}, Case{2.5, 3},
        Case{3.0, 3}, Case{0.75, 1}, Case{0.0, 1}, Case{-2.0, 1}, Case{1e9, 64},
        Case{std::numeric_limits<double>::infinity(), 64},
        Case{std::numeric_limits<double>::quiet_NaN(), 1}}) {
    EXPECT_EQ(PixelScale(c.display_scale), c.pixel_scale) << c.display_scale;
  }
}

TEST(CanvasTest, WholeDeviceLengthIsTheFirstLengthOfWholeDevicePixels) {
  struct Case {
    int logical;
    double display_scale;
    int length;
  };
  for (const Case& c :
       {Case{139, 1.0, 139}, Case{139, 2.0, 139}, Case{139, 1.5, 140}, Case{140, 1.5, 140},
        Case{94, 1.5, 94}, Case{137, 1.25, 140}, Case{137, 1.75, 140}, Case{10, 160 / 120.0, 12},
        Case{101, 121 / 120.0, 120}, Case{7, 1.0 / 3 + 1e-3, 7}, Case{139, 0.0, 139},
        Case{139, std::numeric_limits<double>::infinity(), 139},
        Case{139, std::numeric_limits<double>::quiet_NaN(), 139}}) {
    EXPECT_EQ(WholeDeviceLength(c.logical, c.display_scale), c.length)
        << c.logical << " at " << c.display_scale;
  }
}

TEST(CanvasTest, StartsWithTheBackgroundColourOnly) {
  const Canvas canvas(kGrey);
  EXPECT_TRUE(AllPixelsAre(canvas, kGrey));
  const Picture image = canvas.Image();
  EXPECT_EQ(image.width(), 99);
  EXPECT_EQ(image.height(), 52);
  EXPECT_EQ(image, Picture(99, 52, kGrey));
}

TEST(CanvasTest, BackgroundColourIsNeverBlack) {
  struct Case {
    Colour given;
    Colour used;
  };
  for (const Case& c : {Case{kBlack, kWhite}, Case{0xFF000000, kWhite}, Case{0x010101, 0x010101},
                        Case{0x12FFFFFF, kWhite}}) {
    EXPECT_EQ(Canvas(c.given).BackColor(), c.used) << std::hex << c.given;
  }
}

TEST(CanvasTest, PaintedPixelReadsBlackUntilCleared) {
  Canvas canvas;
  canvas.PSet(10, 13);
  canvas.PSet(98, 51);
  EXPECT_EQ(canvas.Point(10, 13), kBlack);
  EXPECT_EQ(canvas.Point(98, 51), kBlack);
  EXPECT_EQ(canvas.Image().At(10, 13), kBlack);
  EXPECT_EQ(canvas.Point(11, 13), kWhite);
  canvas.Cls();
  EXPECT_TRUE(AllPixelsAre(canvas, kWhite));
}

TEST(CanvasTest, ClsKeepsTheBackgroundPicture) {
  Picture picture(3, 2, kGrey);
  picture.Set(1, 1, kBlack);
  Canvas canvas;
  canvas.SetPicture(picture);
  canvas.PSet(50, 50);
  canvas.Cls();
  EXPECT_EQ(canvas.Point(1, 1), kBlack);
  EXPECT_EQ(canvas.Point(0, 0), kGrey);
  EXPECT_EQ(canvas.Point(3, 0), kWhite) << "beside a small picture the background shows";
  EXPECT_EQ(canvas.Point(0, 2), kWhite);
  EXPECT_EQ(canvas.Point(50, 50), kWhite);
}

TEST(CanvasTest, LargePictureIsClippedToTheInterior) {
  Picture picture(300, 200, kGrey);
  picture.Set(98, 51, kBlack);
  picture.Set(99, 51, kBlack);
  Canvas canvas;
  canvas.SetPicture(picture);
  EXPECT_EQ(canvas.picture().width(), 99);
  EXPECT_EQ(canvas.picture().height(), 52);
  EXPECT_EQ(canvas.Point(98, 51), kBlack);
  EXPECT_EQ(canvas.Image(), canvas.picture());
}

TEST(CanvasTest, SecondPictureReplacesTheFirstEntirely) {
  Canvas canvas;
  canvas.SetPicture(Picture(99, 52, kBlack));
  canvas.SetPicture(Picture(2, 2, kGrey));
  EXPECT_EQ(canvas.Point(1, 1), kGrey);
  EXPECT_EQ(canvas.Point(2, 2), kWhite);
}

TEST(CanvasTest, DrawingLiesOverThePicture) {
  Canvas canvas;
  canvas.SetPicture(Picture(99, 52, kGrey));
  canvas.PSet(4, 5);
  EXPECT_EQ(canvas.Point(4, 5), kBlack);
  EXPECT_EQ(canvas.Point(5, 5), kGrey);
}

TEST(CanvasTest, PointsOutsideTheInteriorNeverReadBlackAndAreNeverPainted) {
  constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
  constexpr double kInf = std::numeric_limits<double>::infinity();
  Canvas canvas;
  canvas.SetPicture(Picture(99, 52, kBlack));
  canvas.Cls();
  const Picture before = canvas.Image();
  struct Case {
    double x, y;
  };
  for (const Case& c :
       {Case{-1, 0}, Case{0, -1}, Case{-0.5, 0}, Case{99, 0}, Case{0, 52}, Case{1e300, 0},
        Case{-1e300, 0}, Case{kNaN, 0}, Case{0, kNaN}, Case{kInf, 0}, Case{0, -kInf}}) {
    EXPECT_NE(canvas.Point(c.x, c.y), kBlack) << c.x << "," << c.y;
    canvas.PSet(c.x, c.y, kGrey);
  }
  EXPECT_EQ(canvas.Image(), before);
}

}  // namespace
}  // namespace dotloom
