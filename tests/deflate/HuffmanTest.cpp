// Package-merge lengths, canonical codes, the fixed tables, the translator
// and the node allocator.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <numeric>
#include <queue>
#include <random>
#include <set>
#include <vector>

#include "archive/deflate/AbDfBase.h"
#include "archive/deflate/AbDfHufD.h"
#include "archive/deflate/AbDfPkMg.h"
#include "archive/deflate/AbDfXlat.h"

namespace {

// Kraft sum of the used lengths, in units of 2^-15.
int64_t KraftSum(const std::vector<int32_t>& lengths) {
  int64_t sum = 0;
  for (int32_t len : lengths)
    if (len > 0) sum += int64_t(1) << (15 - len);
  return sum;
}

int64_t Cost(const std::vector<int32_t>& weights, const std::vector<int32_t>& lengths) {
  int64_t cost = 0;
  for (size_t i = 0; i < weights.size(); ++i) cost += int64_t(weights[i]) * lengths[i];
  return cost;
}

// Cost of an unlimited Huffman code: the sum of the merged weights.
int64_t HuffmanCost(const std::vector<int32_t>& weights) {
  std::priority_queue<int64_t, std::vector<int64_t>, std::greater<int64_t>> heap;
  for (int32_t w : weights)
    if (w > 0) heap.push(w);
  int64_t cost = 0;
  while (heap.size() > 1) {
    const int64_t a = heap.top();
    heap.pop();
    const int64_t b = heap.top();
    heap.pop();
    cost += a + b;
    heap.push(a + b);
  }
  return cost;
}

// Cheapest complete code with lengths 1..maxLen for the used symbols, by
// trying every assignment (small alphabets only).
int64_t BruteForceCost(const std::vector<int32_t>& weights, int32_t maxLen) {
  std::vector<int32_t> used;
  for (int32_t w : weights)
    if (w > 0) used.push_back(w);
  std::vector<int32_t> lengths(used.size(), 1);
  int64_t best = INT64_MAX;
  while (true) {
    if (KraftSum(lengths) == (int64_t(1) << 15)) best = std::min(best, Cost(used, lengths));
    size_t i = 0;
    while (i < lengths.size() && lengths[i] == maxLen) lengths[i++] = 1;
    if (i == lengths.size()) break;
    ++lengths[i];
  }
  return best;
}

std::vector<int32_t> Generate(int32_t maxLen, const std::vector<int32_t>& weights) {
  std::vector<int32_t> lengths(weights.size() + 3, -7);
  GenerateCodeLengths(maxLen, weights.data(), int32_t(weights.size()), lengths.data(), 3, nullptr);
  EXPECT_EQ(lengths[0], -7) << "wrote before the start index";
  return std::vector<int32_t>(lengths.begin() + 3, lengths.end());
}

void ExpectValidLengths(const std::vector<int32_t>& weights, const std::vector<int32_t>& lengths,
                        int32_t maxLen) {
  for (size_t i = 0; i < weights.size(); ++i) {
    SCOPED_TRACE(i);
    if (weights[i] == 0) {
      EXPECT_EQ(lengths[i], 0);
    } else {
      EXPECT_GE(lengths[i], 1);
      EXPECT_LE(lengths[i], maxLen);
    }
  }
  EXPECT_EQ(KraftSum(lengths), int64_t(1) << 15);
}

std::string AssertionText(const std::function<void()>& action) {
  try {
    action();
  } catch (const EAssertionFailed& e) {
    return e.FixedMessage();
  }
  return "no assertion";
}

}  // namespace

// ------------------------------------------------------------ package-merge

TEST(GenerateCodeLengths, TablesOfFrequenciesStayWithinTheLimitAndAreComplete) {
  struct Case {
    int32_t maxLen;
    std::vector<int32_t> weights;
  };
  std::vector<int32_t> fibonacci{1, 1};
  while (fibonacci.size() < 30)
    fibonacci.push_back(fibonacci[fibonacci.size() - 1] + fibonacci[fibonacci.size() - 2]);
  std::vector<int32_t> literalLike(286, 0);
  for (int i = 0; i < 286; i += 3) literalLike[size_t(i)] = 1 + (i * 37) % 500;
  const std::vector<Case> cases = {
      {15, {5, 9, 12, 13, 16, 45}},
      {3, {1, 1, 1, 1, 1, 1, 1}},
      {3, {0, 1, 1, 1, 1, 1, 1}},
      {2, {10, 1, 1}},
      {7, std::vector<int32_t>(19, 3)},
      {7, {0, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17}},
      {15, fibonacci},  // unlimited Huffman would need 29 bits
      {9, fibonacci},
      {15, literalLike},
      {9, literalLike},
      {15, {0, 1, 0, 1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message()
                 << "limit " << c.maxLen << ", " << c.weights.size() << " weights");
    const std::vector<int32_t> lengths = Generate(c.maxLen, c.weights);
    ExpectValidLengths(c.weights, lengths, c.maxLen);
  }
}

TEST(GenerateCodeLengths, MatchesHuffmanWhenTheLimitDoesNotBind) {
  std::mt19937 random(1234);
  for (int round = 0; round < 200; ++round) {
    SCOPED_TRACE(round);
    std::vector<int32_t> weights(size_t(2 + random() % 60));
    for (int32_t& w : weights) w = random() % 4 == 0 ? 0 : int32_t(1 + random() % 1000);
    weights[0] = weights[0] == 0 ? 1 : weights[0];
    weights[1] = weights[1] == 0 ? 2 : weights[1];
    const std::vector<int32_t> lengths = Generate(15, weights);
    ExpectValidLengths(weights, lengths, 15);
    EXPECT_EQ(Cost(weights, lengths), HuffmanCost(weights));
  }
}

TEST(GenerateCodeLengths, IsOptimalUnderABindingLimit) {
  std::mt19937 random(99);
  for (int round = 0; round < 150; ++round) {
    SCOPED_TRACE(round);
    const int32_t maxLen = int32_t(2 + random() % 3);
    const size_t count = size_t(2 + random() % std::min<uint32_t>(5, (1u << maxLen) - 2));
    std::vector<int32_t> weights(count);
    for (int32_t& w : weights) w = int32_t(1 + random() % (round % 2 ? 1000 : 5));
    const std::vector<int32_t> lengths = Generate(maxLen, weights);
    ExpectValidLengths(weights, lengths, maxLen);
    EXPECT_EQ(Cost(weights, lengths), BruteForceCost(weights, maxLen));
  }
}

TEST(GenerateCodeLengths, OneOrNoUsedSymbolGetsOneBit) {
  EXPECT_EQ(Generate(15, {0, 0, 7, 0}), (std::vector<int32_t>{0, 0, 1, 0}));
  EXPECT_EQ(Generate(15, {0, 0, 0}), (std::vector<int32_t>{1, 0, 0}));
  EXPECT_EQ(Generate(1, {4}), (std::vector<int32_t>{1}));
}

TEST(GenerateCodeLengths, RefusesImpossibleArguments) {
  std::vector<int32_t> weights(300, 1);
  std::vector<int32_t> lengths(300);
  EXPECT_EQ(AssertionText(
                [&] { GenerateCodeLengths(16, weights.data(), 3, lengths.data(), 0, nullptr); }),
            "GenerateCodeLengths: the maximum code length should be in the range 1..15");
  EXPECT_EQ(
      AssertionText([&] { GenerateCodeLengths(0, weights.data(), 3, lengths.data(), 0, nullptr); }),
      "GenerateCodeLengths: the maximum code length should be in the range 1..15");
  EXPECT_EQ(AssertionText(
                [&] { GenerateCodeLengths(15, weights.data(), 287, lengths.data(), 0, nullptr); }),
            "GenerateCodeLengths: the weight array must have 1..286 elements");
  EXPECT_EQ(AssertionText(
                [&] { GenerateCodeLengths(15, weights.data(), 0, lengths.data(), 0, nullptr); }),
            "GenerateCodeLengths: the weight array must have 1..286 elements");
  EXPECT_EQ(
      AssertionText([&] { GenerateCodeLengths(3, weights.data(), 8, lengths.data(), 0, nullptr); }),
      "GenerateCodeLengths: the package-merge algorithm should always be feasible");
}

// ------------------------------------------------------------ canonical codes

TEST(TAbDfDecodeHuffmanTree, BuildsTheCanonicalCodesOfRfc1951) {
  // RFC 1951 3.2.2: lengths (3,3,3,3,3,2,4,4) for A..H give
  // 010, 011, 100, 101, 110, 00, 1110, 1111.
  const std::vector<int32_t> lengths{3, 3, 3, 3, 3, 2, 4, 4};
  const uint32_t codes[] = {0b010, 0b011, 0b100, 0b101, 0b110, 0b00, 0b1110, 0b1111};
  TAbDfDecodeHuffmanTree tree(8, 15, huBoth);
  tree.Build(lengths.data(), 0, 8, nullptr, 8);
  EXPECT_EQ(tree.LookupBitLength(), 4);
  for (int32_t symbol = 0; symbol < 8; ++symbol) {
    SCOPED_TRACE(symbol);
    const int32_t len = lengths[size_t(symbol)];
    uint32_t reversed = 0;
    for (int32_t b = 0; b < len; ++b) reversed |= ((codes[symbol] >> b) & 1) << (len - 1 - b);
    EXPECT_EQ(tree.Encode(symbol), reversed | uint32_t(len) << 16);
    // Every lookup value that starts with the code decodes to the symbol.
    for (uint32_t high = 0; high < (1u << (4 - len)); ++high)
      EXPECT_EQ(tree.Decode(reversed | high << len), uint32_t(symbol) | uint32_t(len) << 16);
  }
}

TEST(TAbDfDecodeHuffmanTree, FixedTablesFollowRfc1951) {
  const TAbDfDecodeHuffmanTree& lit = AbDfFixedLiteralTree();
  const TAbDfDecodeHuffmanTree& dist = AbDfFixedDistanceTree();
  EXPECT_EQ(lit.LookupBitLength(), 9);
  EXPECT_EQ(dist.LookupBitLength(), 5);
  struct Case {
    int32_t symbol;
    uint32_t code;  // as RFC 1951 writes it, most significant bit first
    int32_t length;
    int32_t extra;
  };
  const Case cases[] = {
      {0, 0b00110000, 8, 0},    {143, 0b10111111, 8, 0},  {144, 0b110010000, 9, 0},
      {255, 0b111111111, 9, 0}, {256, 0b0000000, 7, 0},   {257, 0b0000001, 7, 0},
      {265, 0b0001001, 7, 1},   {279, 0b0010111, 7, 4},   {280, 0b11000000, 8, 4},
      {284, 0b11000100, 8, 5},  {285, 0b11000101, 8, 16}, {287, 0b11000111, 8, 99},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.symbol);
    uint32_t reversed = 0;
    for (int32_t b = 0; b < c.length; ++b) reversed |= ((c.code >> b) & 1) << (c.length - 1 - b);
    const uint32_t entry = reversed | uint32_t(c.length) << 16 | uint32_t(c.extra) << 24;
    EXPECT_EQ(lit.Encode(c.symbol), entry);
    EXPECT_EQ(lit.Decode(reversed),
              uint32_t(c.symbol) | uint32_t(c.length) << 16 | uint32_t(c.extra) << 24);
  }
  for (int32_t symbol = 0; symbol < 32; ++symbol) {
    SCOPED_TRACE(symbol);
    const uint32_t entry = dist.Encode(symbol);
    EXPECT_EQ(entry >> 16 & 0xFF, 5u);
    EXPECT_EQ(entry >> 24, dfc_DistanceExtraBits[size_t(symbol)]);
    EXPECT_EQ(dist.Decode(entry & 0xFFFF) & 0xFFFF, uint32_t(symbol));
  }
}

TEST(TAbDfDecodeHuffmanTree, DecodingTableSpansTheLongestCode) {
  // Longest code 9 bits: 512 entries; a 7-bit code fills 4 of them.
  std::vector<int32_t> lengths(288);
  for (int i = 0; i < 288; ++i) lengths[size_t(i)] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : 8;
  TAbDfDecodeHuffmanTree tree(288, 15, huDecoding);
  tree.Build(lengths.data(), 0, 288, nullptr, 288);
  int filledBy256 = 0;
  for (uint32_t v = 0; v < 512; ++v) filledBy256 += (tree.Decode(v) & 0xFFFF) == 256;
  EXPECT_EQ(filledBy256, 4);
  EXPECT_EQ(AssertionText([&] { tree.Decode(512); }),
            "TAbDfDecodeHuffmanTree.Decode: trying to decode too many bits, use LookupBitLength "
            "property");
}

TEST(TAbDfDecodeHuffmanTree, DecodingRefusesBrokenLengthSets) {
  struct Case {
    const char* name;
    std::vector<int32_t> lengths;
    const char* error;  // null: accepted
  };
  const Case cases[] = {
      {"over-subscribed",
       {1, 1, 1},
       "code lengths are over-subscribed [TAbDfDecodeHuffmanTree.Build]"},
      {"over-subscribed deep",
       {2, 2, 2, 2, 15},
       "code lengths are over-subscribed [TAbDfDecodeHuffmanTree.Build]"},
      {"incomplete", {2, 2, 2, 0}, "code lengths are incomplete [TAbDfDecodeHuffmanTree.Build]"},
      {"single long code",
       {0, 3, 0, 0},
       "code lengths are incomplete [TAbDfDecodeHuffmanTree.Build]"},
      {"single one-bit code", {0, 1, 0, 0}, nullptr},
      {"no code", {0, 0, 0, 0}, nullptr},
      {"complete", {1, 2, 3, 3}, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TAbDfDecodeHuffmanTree tree(int32_t(c.lengths.size()), 15, huDecoding);
    if (c.error == nullptr) {
      EXPECT_NO_THROW(tree.Build(c.lengths.data(), 0, int32_t(c.lengths.size()), nullptr, 99));
      continue;
    }
    try {
      tree.Build(c.lengths.data(), 0, int32_t(c.lengths.size()), nullptr, 99);
      ADD_FAILURE() << "accepted";
    } catch (const EAbInternalInflateError& e) {
      EXPECT_EQ(e.Message(), c.error);
    }
  }
  // The single code's unused half and an empty table decode to "no code".
  TAbDfDecodeHuffmanTree single(4, 15, huDecoding);
  const int32_t one[] = {0, 1, 0, 0};
  single.Build(one, 0, 4, nullptr, 99);
  EXPECT_EQ(single.Decode(0), 1u | 1u << 16);
  EXPECT_EQ(single.Decode(1), kAbDfNoCode);
  TAbDfDecodeHuffmanTree empty(4, 15, huDecoding);
  const int32_t none[] = {0, 0, 0, 0};
  empty.Build(none, 0, 4, nullptr, 99);
  EXPECT_EQ(empty.LookupBitLength(), 0);
  EXPECT_EQ(empty.Decode(0), kAbDfNoCode);
}

TEST(TAbDfDecodeHuffmanTree, ContractViolations) {
  EXPECT_EQ(AssertionText([] { TAbDfDecodeHuffmanTree tree(1, 15, huBoth); }),
            "TAbDfDecodeHuffmanTree.Create: a huffman tree must be for at least two symbols");
  TAbDfDecodeHuffmanTree tree(4, 7, huEncoding);
  const int32_t tooLong[] = {8, 1, 2, 3};
  EXPECT_EQ(AssertionText([&] { tree.Build(tooLong, 0, 4, nullptr, 4); }),
            "TAbDfDecodeHuffmanTree.Build: a code length is greater than 7");
  const int32_t lengths[] = {1, 0, 2, 2};
  tree.Build(lengths, 0, 4, nullptr, 4);
  EXPECT_EQ(AssertionText([&] { tree.Encode(4); }),
            "TAbDfDecodeHuffmanTree.Encode: trying to encode a symbol that is not in the alphabet");
  EXPECT_EQ(AssertionText([&] { tree.Encode(1); }),
            "TAbDfDecodeHuffmanTree.Encode: trying to encode a symbol that was not used");
}

// ------------------------------------------------------------ translator

TEST(TAbDfTranslator, LengthsAndDistancesMapToTheirSymbols) {
  const TAbDfTranslator& t = AbDfSharedTranslator();
  const std::pair<int32_t, int32_t> lengths[] = {{3, 257},   {4, 258},   {10, 264},  {11, 265},
                                                 {12, 265},  {13, 266},  {227, 284}, {257, 284},
                                                 {258, 285}, {259, 285}, {300, 285}, {65536, 285}};
  for (const auto& [length, symbol] : lengths) {
    SCOPED_TRACE(length);
    EXPECT_EQ(t.LengthSymbol(length), symbol);
  }
  const std::pair<int32_t, int32_t> distances[] = {
      {1, 0},      {4, 3},      {5, 4},      {6, 4},      {7, 5},      {256, 15},
      {257, 16},   {384, 16},   {385, 17},   {24576, 28}, {24577, 29}, {32768, 29},
      {32769, 30}, {49152, 30}, {49153, 31}, {65536, 31}};
  for (const auto& [distance, symbol] : distances) {
    SCOPED_TRACE(distance);
    EXPECT_EQ(t.DistanceSymbol(distance), symbol);
  }
  // Every length and distance lies inside its symbol's range.
  for (int32_t length = 3; length <= 258; ++length) {
    const int32_t s = t.LengthSymbol(length) - 257;
    if (length == 258) continue;
    EXPECT_GE(length, dfc_LengthBase[size_t(s)]);
    EXPECT_LT(length - dfc_LengthBase[size_t(s)], 1 << dfc_LengthExtraBits[size_t(s)]);
  }
  for (int32_t distance = 1; distance <= 65536; ++distance) {
    const size_t s = size_t(t.DistanceSymbol(distance));
    ASSERT_GE(distance, dfc_DistanceBase[s]) << distance;
    ASSERT_LT(distance - dfc_DistanceBase[s], 1 << dfc_DistanceExtraBits[s]) << distance;
  }
  EXPECT_EQ(AssertionText([&] { t.LengthSymbol(2); }),
            "TAbDfTranslator.Translate: length should be 3..65536");
  EXPECT_EQ(AssertionText([&] { t.LengthSymbol(65537); }),
            "TAbDfTranslator.Translate: length should be 3..65536");
  EXPECT_EQ(AssertionText([&] { t.DistanceSymbol(0); }),
            "TAbDfTranslator.Translate: distance should be 1..65536");
  EXPECT_EQ(AssertionText([&] { t.DistanceSymbol(65537); }),
            "TAbDfTranslator.Translate: distance should be 1..65536");
}

// ------------------------------------------------------------ node allocator

TEST(TAbNodeManager, HandsOutDistinctAlignedNodesAcrossPages) {
  TAbNodeManager nodes(13);
  EXPECT_EQ(nodes.NodeSize() % int32_t(sizeof(void*)), 0);
  EXPECT_GE(nodes.NodeSize(), 13);
  auto* first = static_cast<uint8_t*>(nodes.AllocNode());
  auto* second = static_cast<uint8_t*>(nodes.AllocNode());
  // A fresh page gives its nodes from the last one down.
  EXPECT_EQ(first - second, nodes.NodeSize());
  std::set<uint8_t*> seen{first, second};
  for (int i = 0; i < 3 * nodes.NodesPerPage(); ++i) {
    auto* node = static_cast<uint8_t*>(nodes.AllocNode());
    EXPECT_EQ(reinterpret_cast<uintptr_t>(node) % sizeof(void*), 0u);
    std::fill(node, node + 13, uint8_t(i));
    ASSERT_TRUE(seen.insert(node).second);
  }
  TAbNodeManager huge(10000);
  EXPECT_EQ(huge.NodesPerPage(), 1);
  EXPECT_NE(huge.AllocNode(), huge.AllocNode());
}
