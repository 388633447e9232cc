// Walking the DEFLATE blocks of a zlib stream (RFC 1950, RFC 1951) for the
// constructs that libdeflate accepts and zlib refuses. Nothing is decoded:
// the walk follows the codes only as far as it must to find each block's
// end.
#include "deflate_scan.h"

#include <cstdint>
#include <cstring>

namespace {

constexpr size_t kZlibHeaderSize = 2;  // CMF and FLG: both decoders check them alike

enum block_type : uint32_t { BLOCK_STORED = 0, BLOCK_FIXED = 1, BLOCK_DYNAMIC = 2 };  // 3: reserved

constexpr unsigned kMaxCodeLength = 15;
constexpr unsigned kEndOfBlock = 256;
constexpr unsigned kFirstLengthSymbol = 257;
constexpr unsigned kValidLitLenSymbols = 286;  // 286 and 287 exist only in the fixed code
constexpr unsigned kValidDistSymbols = 30;     // 30 and 31 likewise
constexpr unsigned kFixedLitLenSymbols = 288;
constexpr unsigned kFixedDistSymbols = 32;
constexpr unsigned kFixedDistLength = 5;

// A dynamic header's counts: HLIT + 257, HDIST + 1, HCLEN + 4.
constexpr unsigned kHlitBits = 5, kHdistBits = 5, kHclenBits = 4;
constexpr unsigned kHlitBase = 257, kHdistBase = 1, kHclenBase = 4;
constexpr unsigned kCodeLengthBits = 3;
constexpr unsigned kCodeLengthSymbols = 19;
const uint8_t kCodeLengthOrder[kCodeLengthSymbols] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                                      11, 4,  12, 3, 13, 2, 14, 1, 15};
// Code-length symbols above 15: the previous length 3-6 times, zero 3-10
// times, zero 11-138 times.
constexpr unsigned kRepeatPrevious = 16, kRepeatZero = 17;  // and 18
constexpr unsigned kRepeatPreviousBits = 2, kRepeatZeroBits = 3, kRepeatZeroLongBits = 7;
constexpr unsigned kRepeatBase = 3, kRepeatLongBase = 11;

const uint8_t kLengthExtraBits[kValidLitLenSymbols - kFirstLengthSymbol] = {
    0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
const uint8_t kDistExtraBits[kValidDistSymbols] = {0, 0, 0,  0,  1,  1,  2,  2,  3,  3,
                                                   4, 4, 5,  5,  6,  6,  7,  7,  8,  8,
                                                   9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

constexpr unsigned kStoredLengthBits = 16;  // LEN, then its complement NLEN

// The stream's bits, least significant first. Past the end it yields zero
// bits, and overrun() tells that they were consumed.
class bit_reader {
 public:
  bit_reader(const unsigned char* in, size_t len) : in_(in), len_(len) {}

  // The next `count` bits (at most 32) without consuming them.
  uint32_t peek(unsigned count) {
    if (held_ < 32) refill();
    return static_cast<uint32_t>(bits_ & ((uint64_t{1} << count) - 1));
  }
  // Consumes `count` bits seen by the last peek.
  void skip(unsigned count) {
    bits_ >>= count;
    held_ -= count;
  }
  uint32_t take(unsigned count) {
    const uint32_t value = peek(count);
    skip(count);
    return value;
  }
  // To the next byte boundary, where a stored block's bytes begin: bytes are
  // loaded whole, so the bits held end on one.
  void align() { take(held_ % 8); }
  // Steps over `count` whole bytes from a byte boundary.
  void skip_bytes(size_t count) {
    next_ = static_cast<size_t>(consumed_bits() / 8 + count);
    bits_ = 0;
    held_ = 0;
  }
  // More bits were consumed than the stream holds.
  bool overrun() const { return consumed_bits() > 8 * static_cast<uint64_t>(len_); }

 private:
  uint64_t consumed_bits() const { return 8 * static_cast<uint64_t>(next_) - held_; }

  // Whole bytes up to 57 or more bits held: eight at once inside the stream
  // (the bytes beyond the count held are loaded again, to the same place),
  // one at a time near its end.
  void refill() {
    if (next_ <= len_ && len_ - next_ >= 8) {
      const unsigned char* p = in_ + next_;
      const uint64_t word = uint64_t{p[0]} | uint64_t{p[1]} << 8 | uint64_t{p[2]} << 16 |
                            uint64_t{p[3]} << 24 | uint64_t{p[4]} << 32 | uint64_t{p[5]} << 40 |
                            uint64_t{p[6]} << 48 | uint64_t{p[7]} << 56;
      bits_ |= word << held_;
      next_ += (63 - held_) / 8;
      held_ |= 56;
      return;
    }
    for (; held_ <= 56; held_ += 8, next_++) {
      bits_ |= static_cast<uint64_t>(next_ < len_ ? in_[next_] : 0) << held_;
    }
  }

  const unsigned char* in_;
  size_t len_;
  size_t next_ = 0;    // the next byte to load into bits_
  uint64_t bits_ = 0;  // loaded bits not yet consumed, the next one lowest
  unsigned held_ = 0;  // their count
};

// What a code's symbols stand for, which tells the extra bits behind them.
enum class alphabet { code_lengths, litlen, dist };

unsigned extra_bits(alphabet a, unsigned symbol) {
  if (a == alphabet::litlen && symbol >= kFirstLengthSymbol && symbol < kValidLitLenSymbols) {
    return kLengthExtraBits[symbol - kFirstLengthSymbol];
  }
  if (a == alphabet::dist && symbol < kValidDistSymbols) return kDistExtraBits[symbol];
  return 0;  // literals, the end of block, symbols zlib refuses; code-length
             // symbols' extra bits are read as the repeat counts they are
}

// A canonical Huffman code (RFC 1951 3.2.2) as a decoder that also steps
// over each symbol's extra bits: a codeword of up to kFastBits bits by one
// table lookup, a longer (rare) one by counting.
class huffman_code {
 public:
  // Builds the code of lengths[0..count); false unless it is complete:
  // neither over-subscribed nor leaving codewords unused.
  bool build(alphabet a, const uint8_t* lengths, unsigned count);
  // The next symbol, its codeword and extra bits consumed; the code is
  // complete, so every bit string has one.
  unsigned decode(bit_reader& in) const {
    const uint32_t bits = in.peek(kMaxCodeLength);  // at least 32 held: codeword and extra bits
    uint16_t entry = fast_[bits & ((1u << kFastBits) - 1)];
    if (entry == 0) entry = long_entry(bits);
    in.skip(entry >> kSymbolBits);
    return entry & kSymbolMask;
  }

 private:
  uint16_t long_entry(uint32_t bits) const;

  static constexpr unsigned kFastBits = 10;
  static constexpr unsigned kSymbolBits = 9;
  static constexpr uint16_t kSymbolMask = (1u << kSymbolBits) - 1;

  // (codeword length + extra bits) << kSymbolBits | symbol; 0: a longer codeword.
  uint16_t fast_[1u << kFastBits];
  uint16_t count_[kMaxCodeLength + 1];     // codewords of each length
  uint16_t symbols_[kFixedLitLenSymbols];  // by length, then by value: canonical order
  uint8_t extra_[kFixedLitLenSymbols];     // extra bits behind each symbol
};

bool huffman_code::build(alphabet a, const uint8_t* lengths, unsigned count) {
  memset(count_, 0, sizeof count_);
  for (unsigned s = 0; s < count; s++) count_[lengths[s]]++;
  count_[0] = 0;
  int32_t left = 1;  // codewords still free at the length reached
  for (unsigned len = 1; len <= kMaxCodeLength; len++) {
    left = 2 * left - count_[len];
    if (left < 0) return false;
  }
  if (left != 0) return false;  // incomplete or empty

  uint16_t offset[kMaxCodeLength + 1];     // where each length's symbols start in symbols_
  uint32_t next_code[kMaxCodeLength + 1];  // the next codeword of each length
  offset[1] = 0;
  next_code[1] = 0;
  for (unsigned len = 1; len < kMaxCodeLength; len++) {
    offset[len + 1] = static_cast<uint16_t>(offset[len] + count_[len]);
    next_code[len + 1] = (next_code[len] + count_[len]) << 1;
  }
  memset(fast_, 0, sizeof fast_);
  for (unsigned s = 0; s < count; s++) {
    const unsigned len = lengths[s];
    if (len == 0) continue;
    extra_[s] = static_cast<uint8_t>(extra_bits(a, s));
    symbols_[offset[len]++] = static_cast<uint16_t>(s);
    const uint32_t code = next_code[len]++;
    if (len > kFastBits) continue;
    // Codewords are sent most significant bit first: the table is indexed
    // by the reversed codeword, filled for every value of the bits behind.
    uint32_t reversed = 0;
    for (unsigned i = 0; i < len; i++) reversed |= ((code >> i) & 1) << (len - 1 - i);
    for (uint32_t i = reversed; i < (1u << kFastBits); i += 1u << len) {
      fast_[i] = static_cast<uint16_t>((len + extra_[s]) << kSymbolBits | s);
    }
  }
  return true;
}

// The entry of a codeword longer than kFastBits, which `bits` begin with.
uint16_t huffman_code::long_entry(uint32_t bits) const {
  // One bit at a time: `code` is the codeword read so far, `first` the first
  // codeword of its length, `index` that codeword's place in symbols_.
  uint32_t code = 0, first = 0, index = 0;
  for (unsigned len = 1; len <= kMaxCodeLength; len++) {
    code |= (bits >> (len - 1)) & 1;
    const uint32_t n = count_[len];
    if (code < first + n) {
      const unsigned symbol = symbols_[index + code - first];
      return static_cast<uint16_t>((len + extra_[symbol]) << kSymbolBits | symbol);
    }
    index += n;
    first = (first + n) << 1;
    code <<= 1;
  }
  return 0;  // not reached: the code is complete
}

// The fixed codes (RFC 1951 3.2.6), built once.
const huffman_code& fixed_litlen_code() {
  static const huffman_code code = [] {
    uint8_t lengths[kFixedLitLenSymbols];
    memset(lengths, 8, 144);
    memset(lengths + 144, 9, 256 - 144);
    memset(lengths + 256, 7, 280 - 256);
    memset(lengths + 280, 8, kFixedLitLenSymbols - 280);
    huffman_code c;
    c.build(alphabet::litlen, lengths, kFixedLitLenSymbols);
    return c;
  }();
  return code;
}

const huffman_code& fixed_dist_code() {
  static const huffman_code code = [] {
    uint8_t lengths[kFixedDistSymbols];
    memset(lengths, kFixedDistLength, sizeof lengths);
    huffman_code c;
    c.build(alphabet::dist, lengths, kFixedDistSymbols);
    return c;
  }();
  return code;
}

// Follows a block's symbols to its end-of-block code; false at a symbol zlib
// refuses (possible in a fixed block) or when the stream ends first.
bool walk_symbols(bit_reader& stream, const huffman_code& litlen, const huffman_code& dist) {
  bit_reader in = stream;  // a copy no pointer reaches: the compiler keeps it in registers
  bool ended = false;
  for (;;) {
    const unsigned symbol = litlen.decode(in);
    if (in.overrun() || symbol >= kValidLitLenSymbols) break;
    if (symbol < kEndOfBlock) continue;
    if (symbol == kEndOfBlock) {
      ended = true;
      break;
    }
    if (dist.decode(in) >= kValidDistSymbols) break;
  }
  stream = in;
  return ended;
}

// Reads a dynamic block's header into its two codes; false when it declares
// more than 286 literal/length or 30 distance lengths, repeats a length past
// the declared ones, has no end-of-block code or makes an incomplete code.
bool read_dynamic_codes(bit_reader& in, huffman_code& litlen, huffman_code& dist,
                        huffman_code& lengths_code) {
  const unsigned nlen = in.take(kHlitBits) + kHlitBase;
  const unsigned ndist = in.take(kHdistBits) + kHdistBase;
  const unsigned ncode = in.take(kHclenBits) + kHclenBase;
  if (nlen > kValidLitLenSymbols || ndist > kValidDistSymbols) return false;
  uint8_t code_lengths[kCodeLengthSymbols] = {};
  for (unsigned i = 0; i < ncode; i++) {
    code_lengths[kCodeLengthOrder[i]] = static_cast<uint8_t>(in.take(kCodeLengthBits));
  }
  if (!lengths_code.build(alphabet::code_lengths, code_lengths, kCodeLengthSymbols)) return false;

  uint8_t lengths[kValidLitLenSymbols + kValidDistSymbols];
  const unsigned total = nlen + ndist;
  unsigned have = 0;
  while (have < total) {
    const unsigned symbol = lengths_code.decode(in);
    if (in.overrun()) return false;
    if (symbol < kRepeatPrevious) {
      lengths[have++] = static_cast<uint8_t>(symbol);
      continue;
    }
    uint8_t value = 0;
    unsigned repeat = 0;
    if (symbol == kRepeatPrevious) {
      if (have == 0) return false;
      value = lengths[have - 1];
      repeat = kRepeatBase + in.take(kRepeatPreviousBits);
    } else if (symbol == kRepeatZero) {
      repeat = kRepeatBase + in.take(kRepeatZeroBits);
    } else {  // 18
      repeat = kRepeatLongBase + in.take(kRepeatZeroLongBits);
    }
    if (repeat > total - have) return false;
    memset(lengths + have, value, repeat);
    have += repeat;
  }
  return lengths[kEndOfBlock] != 0 && litlen.build(alphabet::litlen, lengths, nlen) &&
         dist.build(alphabet::dist, lengths + nlen, ndist);
}

}  // namespace

bool libdeflate_verdict_is_zlibs(const unsigned char* in, size_t len) {
  if (len < kZlibHeaderSize) return false;
  bit_reader bits(in + kZlibHeaderSize, len - kZlibHeaderSize);
  huffman_code litlen, dist, lengths_code;
  for (;;) {
    const bool final_block = bits.take(1) != 0;
    const uint32_t type = bits.take(2);
    if (type == BLOCK_STORED) {
      bits.align();
      const uint32_t size = bits.take(kStoredLengthBits);
      bits.take(kStoredLengthBits);  // NLEN: both decoders check it
      bits.skip_bytes(size);
    } else if (type == BLOCK_FIXED) {
      if (!walk_symbols(bits, fixed_litlen_code(), fixed_dist_code())) return false;
    } else if (type == BLOCK_DYNAMIC) {
      if (!read_dynamic_codes(bits, litlen, dist, lengths_code)) return false;
      // Complete codes of symbols zlib accepts: the rest of the final block
      // is read alike by both.
      if (final_block) return !bits.overrun();
      if (!walk_symbols(bits, litlen, dist)) return false;
    } else {
      return false;
    }
    if (bits.overrun()) return false;
    if (final_block) return true;
  }
}
