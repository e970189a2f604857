#include "archive/deflate/AbDfPkMg.h"

#include <algorithm>
#include <new>
#include <vector>

#include "archive/deflate/AbDfBase.h"
#include "platform/SysUtils.h"

namespace {

// A leaf (Left null) or a package of two items. Leaves gather their code
// length in Count.
struct TPkMgNode {
  int32_t Weight;
  int32_t Count;
  TPkMgNode* Left;
  TPkMgNode* Right;
  int32_t Symbol;
};

TPkMgNode* NewNode(TAbNodeManager& aNodes, int32_t aWeight, TPkMgNode* aLeft, TPkMgNode* aRight,
                   int32_t aSymbol) {
  return new (aNodes.AllocNode()) TPkMgNode{aWeight, 1, aLeft, aRight, aSymbol};
}

// Pairs the items two by two (an odd last one is dropped) and merges the
// packages with the leaves, ties going to the leaf.
std::vector<TPkMgNode*> PackageAndMerge(TAbNodeManager& aNodes,
                                        const std::vector<TPkMgNode*>& aLeaves,
                                        const std::vector<TPkMgNode*>& aItems) {
  std::vector<TPkMgNode*> packages;
  packages.reserve(aItems.size() / 2);
  for (size_t i = 0; i + 1 < aItems.size(); i += 2)
    packages.push_back(
        NewNode(aNodes, aItems[i]->Weight + aItems[i + 1]->Weight, aItems[i], aItems[i + 1], -1));

  std::vector<TPkMgNode*> merged;
  merged.reserve(aLeaves.size() + packages.size());
  size_t leaf = 0;
  size_t package = 0;
  while (leaf < aLeaves.size() || package < packages.size()) {
    const bool takeLeaf =
        package == packages.size() ||
        (leaf < aLeaves.size() && aLeaves[leaf]->Weight <= packages[package]->Weight);
    merged.push_back(takeLeaf ? aLeaves[leaf++] : packages[package++]);
  }
  return merged;
}

void CountLeaves(TPkMgNode* aPackage) {
  // Iterative walk: packages nest up to 14 deep, but an explicit stack keeps
  // the cost visible.
  std::vector<TPkMgNode*> stack{aPackage};
  while (!stack.empty()) {
    TPkMgNode* node = stack.back();
    stack.pop_back();
    if (node->Left == nullptr) {
      ++node->Count;
    } else {
      stack.push_back(node->Left);
      stack.push_back(node->Right);
    }
  }
}

}  // namespace

void GenerateCodeLengths(int32_t aMaxCodeLen, const int32_t* aWeights, int32_t aWeightCount,
                         int32_t* aCodeLengths, int32_t aStartInx, TAbLogger* /*aLog*/) {
  ZASSERT(aMaxCodeLen >= 1 && aMaxCodeLen <= 15,
          "GenerateCodeLengths: the maximum code length should be in the range 1..15");
  ZASSERT(aWeightCount >= 1 && aWeightCount <= 286,
          "GenerateCodeLengths: the weight array must have 1..286 elements");
  ZASSERT(aWeightCount < (1 << aMaxCodeLen),
          "GenerateCodeLengths: the package-merge algorithm should always be feasible");

  int32_t* lengths = aCodeLengths + aStartInx;
  std::fill(lengths, lengths + aWeightCount, 0);

  TAbNodeManager nodes(int32_t(sizeof(TPkMgNode)));
  std::vector<TPkMgNode*> leaves;
  for (int32_t i = 0; i < aWeightCount; ++i)
    if (aWeights[i] != 0) leaves.push_back(NewNode(nodes, aWeights[i], nullptr, nullptr, i));

  // RFC 1951 wants at least one code even for an empty alphabet.
  if (leaves.empty()) {
    lengths[0] = 1;
    return;
  }
  if (leaves.size() == 1) {
    lengths[leaves[0]->Symbol] = 1;
    return;
  }

  std::stable_sort(leaves.begin(), leaves.end(),
                   [](const TPkMgNode* a, const TPkMgNode* b) { return a->Weight < b->Weight; });

  std::vector<TPkMgNode*> items = leaves;
  for (int32_t level = 1; level < aMaxCodeLen; ++level)
    items = PackageAndMerge(nodes, leaves, items);

  const size_t selected = 2 * leaves.size() - 2;
  for (size_t i = 0; i < selected && i < items.size(); ++i)
    if (items[i]->Left != nullptr) CountLeaves(items[i]);

  for (const TPkMgNode* leaf : leaves) lengths[leaf->Symbol] = leaf->Count;
}
