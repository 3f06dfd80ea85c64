// Output bytes per second of each pure decoder, and of memcpy over the same number of bytes.
// (.m8 has no decoder to time: its rows go out straight from the source, and its palette is
// 1 KiB a file.)
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>

#include "convert/m32.hpp"
#include "convert/sfd.hpp"
#include "convert/tex.hpp"
#include "encoders.hpp"

namespace {

using namespace texport;

constexpr std::size_t kOutputSize = 16u << 20;

void set_bytes(benchmark::State& state, std::size_t per_iteration) {
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * per_iteration));
}

void BM_Memcpy(benchmark::State& state) {
  const Bytes from(kOutputSize, 0x5A);
  Bytes to(kOutputSize);
  for (auto _ : state) {
    std::memcpy(to.data(), from.data(), kOutputSize);
    benchmark::DoNotOptimize(to.data());
    benchmark::ClobberMemory();
  }
  set_bytes(state, kOutputSize);
}
BENCHMARK(BM_Memcpy);

// Data to pack: mostly distinct bytes (literal-heavy), long runs (run-heavy), or a mix.
enum class Mix { literal_heavy, run_heavy, mixed, escape_heavy };

Bytes sample_data(Mix mix, std::size_t size) {
  std::mt19937 random(7);
  Bytes data(size);
  std::size_t at = 0;
  while (at < size) {
    const auto value = static_cast<std::uint8_t>(random());
    std::size_t run = 1;
    if (mix == Mix::run_heavy)
      run = 31;
    if (mix == Mix::mixed)
      run = random() % 3 == 0 ? 2 + random() % 30 : 1;
    for (std::size_t k = 0; k < run && at < size; ++k)
      data[at++] = value;
  }
  // Start like a frame container so that sign 0xC0 can pack it.
  write_u32le(data, 0, 1);
  if (mix == Mix::literal_heavy)
    for (std::size_t i = 4; i < size; ++i)
      if (data[i] >= 0xC0 && data[i] <= 0xDE)
        data[i] ^= 0x80;  // keep run codes rare
  return data;
}

void BM_SfdUnpack(benchmark::State& state, Mix mix) {
  const Bytes packed = *samples::sfd_pack(sample_data(mix, kOutputSize), 0xC0);
  for (auto _ : state) {
    Bytes out(sfd::unpacked_length(packed));
    sfd::unpack_into(packed, out);
    benchmark::DoNotOptimize(out.data());
  }
  set_bytes(state, kOutputSize);
}
BENCHMARK_CAPTURE(BM_SfdUnpack, literal_heavy, Mix::literal_heavy);
BENCHMARK_CAPTURE(BM_SfdUnpack, run_heavy, Mix::run_heavy);
BENCHMARK_CAPTURE(BM_SfdUnpack, mixed, Mix::mixed);

void BM_SfdFrameWalk(benchmark::State& state) {
  std::vector<samples::SfdFrame> frames(1000, samples::SfdFrame{128, 128, Bytes(128 * 128, 3)});
  const Bytes container = samples::sfd_container(frames);
  for (auto _ : state) {
    std::size_t total = 0;
    for (std::uint64_t m = 1;; ++m) {
      const sfd::FrameLookup lookup = sfd::find_frame(container, m);
      if (lookup.status != sfd::FrameStatus::found)
        break;
      total += lookup.frame.pixels.size();
    }
    benchmark::DoNotOptimize(total);
  }
  set_bytes(state, frames.size() * 128 * 128);
}
BENCHMARK(BM_SfdFrameWalk);

// .tex: a 4096 x 4096 image (16 MiB) packed with sign C0 (escape BF, run codes C0 to DD).
void BM_TexDecode(benchmark::State& state, Mix mix) {
  constexpr std::uint16_t kSide = 4096;
  Bytes pixels = sample_data(mix == Mix::escape_heavy ? Mix::literal_heavy : mix, kOutputSize);
  if (mix == Mix::escape_heavy)  // every fourth pixel a value that must be escaped
    for (std::size_t i = 0; i < pixels.size(); i += 4)
      pixels[i] = static_cast<std::uint8_t>(0xBF + i % 31);
  const Bytes source = *samples::tex_pack(kSide, kSide, pixels, 0xC0);
  Bytes out(kOutputSize);
  for (auto _ : state) {
    tex::decode_stream(source, 0xC0, kOutputSize, out);
    benchmark::DoNotOptimize(out.data());
  }
  set_bytes(state, kOutputSize);
}
BENCHMARK_CAPTURE(BM_TexDecode, literal_heavy, Mix::literal_heavy);
BENCHMARK_CAPTURE(BM_TexDecode, run_heavy, Mix::run_heavy);
BENCHMARK_CAPTURE(BM_TexDecode, mixed, Mix::mixed);
BENCHMARK_CAPTURE(BM_TexDecode, escape_heavy, Mix::escape_heavy);

void BM_M32Exchange(benchmark::State& state) {
  const Bytes pixels = sample_data(Mix::literal_heavy, kOutputSize);
  Bytes out(kOutputSize);
  for (auto _ : state) {
    m32::exchange_red_blue(pixels, out);
    benchmark::DoNotOptimize(out.data());
  }
  set_bytes(state, kOutputSize);
}
BENCHMARK(BM_M32Exchange);

}  // namespace

BENCHMARK_MAIN();
