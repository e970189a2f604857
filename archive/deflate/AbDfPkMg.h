// Length-limited Huffman code lengths by package-merge.
#pragma once

#include <cstdint>

class TAbLogger;

// Turns the `aWeightCount` (1..286) frequencies of `aWeights` into code
// lengths of at most `aMaxCodeLen` (1..15, with aWeightCount < 2^aMaxCodeLen),
// written to aCodeLengths[aStartInx ..]. With two or more used symbols the
// lengths are optimal and satisfy the Kraft equality; a single used symbol,
// or none (then the first symbol), gets length 1. `aLog` may be null.
void GenerateCodeLengths(int32_t aMaxCodeLen, const int32_t* aWeights, int32_t aWeightCount,
                         int32_t* aCodeLengths, int32_t aStartInx, TAbLogger* aLog);
