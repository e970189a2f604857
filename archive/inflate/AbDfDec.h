// The Inflate decoder: raw Deflate (RFC 1951) and its Deflate64 extension.
#pragma once

#include <cstdint>

#include "archive/deflate/AbDfBase.h"
#include "platform/Classes.h"

// Decodes the compressed data at aSource's position (at the 12-byte
// encryption header when aHelper carries a password) into aDest and returns
// the checksum of the output: CRC-32, or Adler-32 with dfoAdler32.
//
// aHelper may be null (defaults). Read from it: dfoDeflate64, dfoAdler32,
// dfoTestOnly (count the output, write nothing), OutputLimit (stop with
// result 0 once that many bytes are decoded), Password and HeaderCheck,
// SourceSize (for progress; −1: aSource's size), ProgressHook, LogFileName.
// Written back: BytesWritten (bytes produced) and BytesRead (bytes consumed,
// the encryption header included).
//
// Corrupt data raises EAbInflateError; a wrong password EAbInflatePasswordError
// (aSource back at the header). An abort of the progress hook (EAbAbortProgress)
// ends quietly with result 0. aSource is left on the first byte not consumed.
uint32_t Inflate(TStream* aSource, TStream* aDest, TAbDeflateHelper* aHelper);
