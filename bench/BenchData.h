// Generated data for the benchmarks: pharmacy-like text with one
// incompressible MiB (pictures) in every `noisePeriodMiB`.
#pragma once

#include <cstdint>
#include <string>

void WriteBenchDataFile(const std::string& path, int64_t size, uint32_t seed, int noisePeriodMiB);
