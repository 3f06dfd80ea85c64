// Output bytes per second of each pure decoder, and of memcpy over 16 MiB in the same run. Rates
// are decimal: the "bytes" counter (G/s = 10^9 bytes a second) and the table printed after the run,
// which also gives each decoder's share of memcpy's rate. (.m8 has no decoder to time: its rows go
// out straight from the source, and its palette is 1 KiB a file.)
//
// Streams, each 16 MiB unpacked, packed by our own encoders with sign C0 (.sfd run codes C0 to DE;
// .tex escape BF, run codes C0 to DD):
//   literal_heavy  distinct bytes, no run codes among them
//   run_heavy      runs of 31
//   mixed          like real textures: runs of 2 to 11 between stretches of 1 to 7 literals
//   random_runs    a run of 2 to 31 one time in three, else a lone byte
//   escape_heavy   literal_heavy with every fourth byte a run code or the escape
//   test_cards     the bundled grey test cards, 256 x 256, one after the other
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "convert/sfd.hpp"
#include "convert/tex.hpp"
#include "encoders.hpp"
#include "io/native.hpp"
#include "test_cards.hpp"
#include "texture_pixels.hpp"

namespace {

using namespace texport;

constexpr std::size_t kOutputSize = 16u << 20;
constexpr std::uint8_t kSign = 0xC0;
constexpr std::uint16_t kTexSide = 4096;  // 4096 x 4096 = 16 MiB
static_assert(std::size_t{kTexSide} * kTexSide == kOutputSize);

void set_bytes(benchmark::State& state, std::size_t per_iteration) {
  state.counters["bytes"] = benchmark::Counter(static_cast<double>(per_iteration),
                                               benchmark::Counter::kIsIterationInvariantRate);
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

enum class Mix { literal_heavy, run_heavy, mixed, random_runs, escape_heavy, test_cards };

bool is_code_like(std::uint8_t byte) {
  return byte >= kSign - 1 && byte <= kSign + 30;  // the .tex escape and both formats' run codes
}

// The grey test cards, 256 x 256, one after the other.
Bytes tiled_cards() {
  constexpr std::string_view kLabels = "0123456789RGBT";
  Bytes data;
  for (std::size_t card = 0; data.size() < kOutputSize; ++card) {
    const Bytes pixels = samples::grey_card(256, 256, kLabels.substr(card % kLabels.size(), 1));
    data.insert(data.end(), pixels.begin(), pixels.end());
  }
  data.resize(kOutputSize);
  return data;
}

Bytes sample_data(Mix mix) {
  std::mt19937 random(7);
  const auto below = [&](unsigned n) { return static_cast<std::size_t>(random() % n); };
  Bytes data;
  const auto put = [&](std::uint8_t value, std::size_t count) {
    data.insert(data.end(), std::min(count, kOutputSize - data.size()), value);
  };
  if (mix == Mix::mixed)
    data = bench::texture_pixels(kOutputSize, 7);
  if (mix == Mix::test_cards)
    data = tiled_cards();
  while (data.size() < kOutputSize) {
    const auto value = static_cast<std::uint8_t>(random());
    if (mix == Mix::run_heavy)
      put(value, 31);
    else if (mix == Mix::random_runs)
      put(value, below(3) == 0 ? 2 + below(30) : 1);
    else  // literal_heavy, escape_heavy
      put(is_code_like(value) ? static_cast<std::uint8_t>(value ^ 0x80) : value, 1);
  }
  if (mix == Mix::escape_heavy)  // every fourth byte a value that must be escaped
    for (std::size_t i = 0; i < data.size(); i += 4)
      data[i] = static_cast<std::uint8_t>(kSign - 1 + i % 31);
  // Start like a frame container (count 1), so that sign C0 can pack it as .sfd.
  write_u32le(data, 0, 1);
  return data;
}

// Each corpus is made once, on first use.
const Bytes& unpacked(Mix mix) {
  static std::map<Mix, Bytes> made;
  auto [it, fresh] = made.try_emplace(mix);
  if (fresh)
    it->second = sample_data(mix);
  return it->second;
}
const Bytes& sfd_packed(Mix mix) {
  static std::map<Mix, Bytes> made;
  auto [it, fresh] = made.try_emplace(mix);
  if (fresh)
    it->second = *samples::sfd_pack(unpacked(mix), kSign);
  return it->second;
}
const Bytes& tex_packed(Mix mix) {
  static std::map<Mix, Bytes> made;
  auto [it, fresh] = made.try_emplace(mix);
  if (fresh)
    it->second = *samples::tex_pack(kTexSide, kTexSide, unpacked(mix), kSign);
  return it->second;
}

// The filling pass alone, into a buffer made beforehand.
void BM_SfdUnpack(benchmark::State& state, Mix mix) {
  const Bytes& packed = sfd_packed(mix);
  Bytes out(sfd::unpacked_length(packed));
  for (auto _ : state) {
    sfd::unpack_into(packed, out);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  if (out != unpacked(mix))
    state.SkipWithError("unpacked bytes differ");
  set_bytes(state, out.size());
}

// The counting pass alone, in bytes counted a second.
void BM_SfdCount(benchmark::State& state, Mix mix) {
  const Bytes& packed = sfd_packed(mix);
  std::uint64_t length = 0;
  for (auto _ : state) {
    length = sfd::unpacked_length(packed);
    benchmark::DoNotOptimize(length);
  }
  set_bytes(state, static_cast<std::size_t>(length));
}

void BM_TexDecode(benchmark::State& state, Mix mix) {
  const Bytes& source = tex_packed(mix);
  Bytes out(kOutputSize);
  for (auto _ : state) {
    tex::decode_stream(source, kSign, kOutputSize, out);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  if (out != unpacked(mix))
    state.SkipWithError("decoded pixels differ");
  set_bytes(state, kOutputSize);
}

// The stream followed without pixels to store.
void BM_TexFollow(benchmark::State& state, Mix mix) {
  const Bytes& source = tex_packed(mix);
  for (auto _ : state) {
    const tex::DecodeResult result = tex::decode_stream(source, kSign, kOutputSize, {});
    benchmark::DoNotOptimize(result);
  }
  set_bytes(state, kOutputSize);
}

#define TEXPORT_EACH_MIX(bench)                                \
  BENCHMARK_CAPTURE(bench, literal_heavy, Mix::literal_heavy); \
  BENCHMARK_CAPTURE(bench, run_heavy, Mix::run_heavy);         \
  BENCHMARK_CAPTURE(bench, mixed, Mix::mixed);                 \
  BENCHMARK_CAPTURE(bench, random_runs, Mix::random_runs);     \
  BENCHMARK_CAPTURE(bench, escape_heavy, Mix::escape_heavy);   \
  BENCHMARK_CAPTURE(bench, test_cards, Mix::test_cards)
TEXPORT_EACH_MIX(BM_SfdUnpack);
TEXPORT_EACH_MIX(BM_SfdCount);
TEXPORT_EACH_MIX(BM_TexDecode);
TEXPORT_EACH_MIX(BM_TexFollow);

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

void BM_M32Exchange(benchmark::State& state) {
  const Bytes& pixels = unpacked(Mix::literal_heavy);
  Bytes out(kOutputSize);
  for (auto _ : state) {
    exchange_red_blue(pixels, out);
    benchmark::DoNotOptimize(out.data());
  }
  set_bytes(state, kOutputSize);
}
BENCHMARK(BM_M32Exchange);

// The console report, then each benchmark's rate in decimal GB/s and as a share of memcpy's: the
// median over repetitions where there are several.
class ShareReporter : public benchmark::ConsoleReporter {
 public:
  ShareReporter() : ConsoleReporter(OO_None) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      const auto bytes = run.counters.find("bytes");
      if (run.error_occurred || bytes == run.counters.end())
        continue;
      if (rates_.try_emplace(run.run_name.str()).second)
        order_.push_back(run.run_name.str());
      if (run.run_type == Run::RT_Iteration)
        rates_[run.run_name.str()].push_back(bytes->second.value);
      else if (run.aggregate_name == "median")
        medians_[run.run_name.str()] = bytes->second.value;
    }
  }

  void Finalize() override {
    ConsoleReporter::Finalize();
    for (auto& [name, rates] : rates_) {
      if (medians_.count(name) == 0) {
        std::sort(rates.begin(), rates.end());
        const std::size_t n = rates.size();
        medians_[name] = n % 2 != 0 ? rates[n / 2] : (rates[n / 2 - 1] + rates[n / 2]) / 2;
      }
    }
    const auto memcpy_rate = medians_.find("BM_Memcpy");
    std::printf("\n%-36s %10s %14s\n", "benchmark", "GB/s", "share of memcpy");
    for (const std::string& name : order_) {
      const double value = medians_[name];
      if (memcpy_rate == medians_.end())
        std::printf("%-36s %10.2f\n", name.c_str(), value / 1e9);
      else
        std::printf("%-36s %10.2f %13.2f\n", name.c_str(), value / 1e9,
                    value / memcpy_rate->second);
    }
    std::printf("(GB/s: 10^9 output bytes a second; for the counting pass, bytes counted)\n");
  }

 private:
  std::map<std::string, std::vector<double>> rates_;
  std::map<std::string, double> medians_;
  std::vector<std::string> order_;  // as first reported
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv))
    return 1;
  ShareReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
