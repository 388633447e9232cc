// Decides, from the structure of a zlib stream alone, whether libdeflate's
// verdict on it is zlib's: the two decoders read every construct they both
// accept alike, but libdeflate also accepts a few that zlib refuses, and the
// writer must give zlib's verdict.
#ifndef BRIX_DEFLATE_SCAN_H
#define BRIX_DEFLATE_SCAN_H

#include <cstddef>

// True when no DEFLATE block of the zlib stream in `in` (len bytes) holds a
// construct that libdeflate accepts and zlib refuses:
//  - literal/length symbols 286 and 287, distance symbols 30 and 31 (usable
//    in fixed-code blocks, declared by a dynamic header with more than 286
//    or 30 code lengths);
//  - a code-length repeat that runs past the declared code lengths;
//  - an incomplete or empty Huffman code, whose unused codewords libdeflate
//    decodes as some symbol.
// Every block is walked up to the final one; a final dynamic block is judged
// by its header alone, since its symbols can then only be ones zlib accepts.
// False also for anything the walk cannot follow (a damaged or truncated
// stream): such a stream is for zlib to judge. zlib's compressor never makes
// these constructs, so a stream it wrote passes.
bool libdeflate_verdict_is_zlibs(const unsigned char* in, size_t len);

#endif  // BRIX_DEFLATE_SCAN_H
