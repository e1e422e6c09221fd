// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
// The Bitfile codec in memory, each conversion beside the least work that could do it.

#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <cstring>

#include "image/bitfile_codec.h"
#include "image/canvas.h"

namespace dotloom {
namespace {

using BitfileCodec::BitfileSize;
using BitfileCodec::Bytes;

constexpr std::size_t kBitfilePixels = BitfileSize * 8;  // 4,608

// A fixed mix of set and clear bits, about half of each, so both branches of the codec run.
Bytes MixedBitfile() {
  Bytes bytes{};
  std::uint32_t state = 0x2545F491U;
  for (std::uint8_t& byte : bytes) {
    state ^= state << 13U;
    state ^= state >> 17U;
    state ^= state << 5U;
    byte = static_cast<std::uint8_t>(state);
  }
  return bytes;
}

void Decode(benchmark::State& state) {
  const Bytes bytes = MixedBitfile();
  Canvas canvas;
  for (auto _ : state) {
    canvas.Cls();
    BitfileCodec::Decode(bytes, canvas);
    benchmark::DoNotOptimize(canvas);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(Decode)->Name("codec/Decode (Cls + 576 bytes)");

void Encode(benchmark::State& state) {
  Canvas canvas;
  BitfileCodec::Decode(MixedBitfile(), canvas);
  for (auto _ : state) {
    Bytes bytes = BitfileCodec::Encode(canvas);
    benchmark::DoNotOptimize(bytes);
  }
}
BENCHMARK(Encode)->Name("codec/Encode (576 bytes)");

void RoundTrip(benchmark::State& state) {
  const Bytes input = MixedBitfile();
  Canvas canvas;
  for (auto _ : state) {
    canvas.Cls();
    BitfileCodec::Decode(input, canvas);
    Bytes output = BitfileCodec::Encode(canvas);
    benchmark::DoNotOptimize(output);
  }
}
BENCHMARK(RoundTrip)->Name("codec/round trip (Cls + Decode + Encode)");

// Floors: plain arrays, no canvas.

void CopyBytes(benchmark::State& state) {
  const Bytes input = MixedBitfile();
  Bytes output{};
  for (auto _ : state) {
    benchmark::DoNotOptimize(input.data());
    std::memcpy(output.data(), input.data(), BitfileSize);
    benchmark::DoNotOptimize(output.data());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(CopyBytes)->Name("floor/copy 576 bytes");

// Every bit of the file becomes one pixel of a plain 96 x 48 array, row by row as the codec
// goes, in the same vectorisable form.
void WritePixels(benchmark::State& state) {
  const Bytes input = MixedBitfile();
  std::array<Colour, kBitfilePixels> pixels{};
  for (auto _ : state) {
    benchmark::DoNotOptimize(input.data());
    for (std::size_t row = 0; row < 48; ++row) {
      const std::uint8_t* strip = &input[row / 8 * 96];
      const auto bit = static_cast<std::uint8_t>(1U << (row % 8));
      Colour* line = &pixels[row * 96];
      for (std::size_t x = 0; x < 96; ++x) line[x] = (strip[x] & bit) != 0 ? kBlack : kWhite;
    }
    benchmark::DoNotOptimize(pixels.data());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(WritePixels)->Name("floor/write 4,608 pixels into an array");

// The mirror: a plain 96 x 48 array of pixels packed into 576 bytes.
void PackPixels(benchmark::State& state) {
  std::array<Colour, kBitfilePixels> pixels{};
  const Bytes input = MixedBitfile();
  for (std::size_t i = 0; i < kBitfilePixels; ++i) {
    pixels[i] = ((input[i / 768 * 96 + i % 96] >> (i / 96 % 8)) & 1U) != 0 ? kBlack : kWhite;
  }
  for (auto _ : state) {
    benchmark::DoNotOptimize(pixels.data());
    Bytes output{};
    for (std::size_t row = 0; row < 48; ++row) {
      std::uint8_t* strip = &output[row / 8 * 96];
      const auto bit = static_cast<std::uint8_t>(1U << (row % 8));
      const Colour* line = &pixels[row * 96];
      std::array<std::uint8_t, 96> black{};  // two plain passes, which the compiler vectorises
      for (std::size_t x = 0; x < 96; ++x) black[x] = line[x] == kBlack ? bit : 0;
      for (std::size_t x = 0; x < 96; ++x)
        strip[x] = static_cast<std::uint8_t>(strip[x] | black[x]);
    }
    benchmark::DoNotOptimize(output);
  }
}
BENCHMARK(PackPixels)->Name("floor/pack 4,608 pixels into 576 bytes");

// What a repaint asks of the canvas: the composite of its three layers.
void Image(benchmark::State& state) {
  Canvas canvas;
  BitfileCodec::Decode(MixedBitfile(), canvas);
  for (auto _ : state) {
    Picture image = canvas.Image();
    benchmark::DoNotOptimize(image);
  }
}
BENCHMARK(Image)->Name("canvas/Image (99 x 52 composite)");

}  // namespace
}  // namespace dotloom

BENCHMARK_MAIN();
