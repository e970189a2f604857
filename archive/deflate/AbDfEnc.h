// The Deflate encoder (RFC 1951, raw, no wrapper): its entry point and the
// block writers that choose each block's form by exact size.
#pragma once

#include <array>
#include <cstdint>

#include "archive/deflate/AbDfBase.h"
#include "archive/deflate/AbDfStrm.h"
#include "platform/Classes.h"

class TAbDfDecodeHuffmanTree;

// Compresses `aSource`, read from its current position to its end, into
// `aDest` at its current position, and returns the CRC-32 (Adler-32 with
// dfoAdler32) of what was read. `aHelper` may be null (default options); it
// is only read, except for BytesRead and BytesWritten, which it receives.
// With a Password the output is encrypted, its 12-byte header first.
// Internal errors leave as EAbDeflateError; stream errors and an abort
// raised by the progress hook pass unchanged. Null streams or a helper
// without any of dfoStored, dfoStatic, dfoDynamic are contract violations.
uint32_t Deflate(TStream* aSource, TStream* aDest, TAbDeflateHelper* aHelper);

// ------------------------------------------------------------ block writers
// None resets the token buffer except EmitStoredBlocks.

// Writes the block as dynamic, or with `aChoose` as the smallest of dynamic,
// static and stored (ties go to dynamic over static, and to the
// Huffman-coded form over stored).
void EmitChosenBlock(bool aFinal, bool aUseDeflate64, bool aChoose, TAbLogger* aLog,
                     TAbDfOutBitStream& aBitStrm, TAbDfLZStream& aStream);
// Writes the block with the fixed codes.
void EmitStaticBlock(bool aFinal, bool aUseDeflate64, TAbDfLZStream& aStream, TAbLogger* aLog,
                     TAbDfOutBitStream& aBitStrm);
// Writes the `aSize` raw bytes the block covers as stored blocks of at most
// 65,535 bytes (only the last marked final when `aFinal`), then resets the
// token buffer.
void EmitStoredBlocks(bool aFinal, TAbDfLZStream& aStream, TAbDfOutBitStream& aBitStrm,
                      TAbLogger* aLog, int32_t aSize);
// Exact bits of the dynamic form without the 3 block-header bits.
// `aCodeLengths` holds the literal/length code lengths, then the distance
// ones from index `aLitCount`.
int64_t CalcDynamicBitCount(bool aUseDeflate64, const std::array<int32_t, 286>& aLitBuckets,
                            const std::array<int32_t, 32>& aDistBuckets,
                            const std::array<int32_t, 19>& aCodeLenBuckets,
                            const int32_t* aCodeLengths,
                            const std::array<int32_t, 19>& aCodeLenCodeLengths, int32_t aLitCount,
                            int32_t aDistCount, int32_t aCodeLenCount);
// Writes the end-of-block code of `aTree`.
void EmitEndOfBlock(TAbDfOutBitStream& aBitStrm, const TAbDfDecodeHuffmanTree& aTree);
