// Throughput of the engine's ground floor: CRC-32 over memory, and the work
// stream written and read back once it is far larger than its 100 KiB of pages.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "archive/AbUtils.h"
#include "archive/AbVMStrm.h"

namespace {

std::vector<uint8_t> RandomBytes(size_t size) {
  std::vector<uint8_t> bytes(size);
  std::mt19937 random(42);
  for (uint8_t& b : bytes) b = uint8_t(random());
  return bytes;
}

void Crc32(benchmark::State& state) {
  const std::vector<uint8_t> data = RandomBytes(1 << 20);
  for (auto _ : state) {
    uint32_t crc = 0xFFFFFFFF;
    for (size_t at = 0; at < data.size(); at += 65535) {
      AbCrcBuffer(crc, data.data() + at, uint16_t(std::min<size_t>(65535, data.size() - at)));
    }
    benchmark::DoNotOptimize(crc);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(data.size()));
}
BENCHMARK(Crc32)->UseRealTime();

constexpr int32_t kChunk = 64 * 1024;

void WorkStreamWrite(benchmark::State& state) {
  const std::vector<uint8_t> chunk = RandomBytes(kChunk);
  const int64_t total = state.range(0) << 20;
  for (auto _ : state) {
    TAbVirtualMemoryStream stream;
    for (int64_t done = 0; done < total; done += kChunk) stream.WriteBuffer(chunk.data(), kChunk);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * total);
}
BENCHMARK(WorkStreamWrite)->Arg(16)->Unit(benchmark::kMillisecond)->UseRealTime();

void WorkStreamRead(benchmark::State& state) {
  const std::vector<uint8_t> chunk = RandomBytes(kChunk);
  const int64_t total = state.range(0) << 20;
  TAbVirtualMemoryStream stream;
  for (int64_t done = 0; done < total; done += kChunk) stream.WriteBuffer(chunk.data(), kChunk);
  std::vector<uint8_t> buffer(kChunk);
  for (auto _ : state) {
    stream.SetPosition(0);
    for (int64_t done = 0; done < total; done += kChunk) stream.ReadBuffer(buffer.data(), kChunk);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * total);
}
BENCHMARK(WorkStreamRead)->Arg(16)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
