// DEFLATE blocks written bit by bit (RFC 1951) into zlib chunks (RFC 1950).
#include "kit/lenient_chunks.h"

#include <zlib.h>

#include <cstdint>

namespace kit {

namespace {

constexpr size_t kZlibHeaderSize = 2;
const char kZlibHeader[kZlibHeaderSize + 1] = "\x78\x9C";  // 32 KiB window, no dictionary
constexpr size_t kDecodedLimit = 65536;
constexpr unsigned kEndOfBlock = 256;
constexpr unsigned kLength3 = 257, kLength258 = 285;

// Bits least significant first, Huffman codewords most significant first.
class BitWriter {
 public:
  void bits(uint32_t value, unsigned count) {
    for (unsigned i = 0; i < count; i++) put((value >> i) & 1);
  }
  void codeword(uint32_t code, unsigned length) {
    while (length-- > 0) put((code >> length) & 1);
  }
  // The zlib chunk: header and the bits so far, without a trailer.
  std::string chunk() const {
    return std::string(kZlibHeader, kZlibHeaderSize) + bytes_ +
           (count_ > 0 ? std::string(1, static_cast<char>(partial_)) : "");
  }

 private:
  void put(uint32_t bit) {
    partial_ |= bit << count_;
    if (++count_ == 8) {
      bytes_ += static_cast<char>(partial_);
      partial_ = 0;
      count_ = 0;
    }
  }
  std::string bytes_;
  uint32_t partial_ = 0;
  unsigned count_ = 0;
};

// Canonical codewords of the code with these lengths (RFC 1951 3.2.2).
std::vector<uint32_t> canonical(const std::vector<uint8_t>& lengths) {
  uint32_t count[16] = {}, next[16] = {};
  for (uint8_t l : lengths) count[l]++;
  count[0] = 0;
  for (unsigned len = 1; len < 16; len++) next[len] = (next[len - 1] + count[len - 1]) << 1;
  std::vector<uint32_t> codes(lengths.size());
  for (size_t s = 0; s < lengths.size(); s++) {
    if (lengths[s] != 0) codes[s] = next[lengths[s]]++;
  }
  return codes;
}

// A final block in the fixed code (RFC 1951 3.2.6).
void fixed_block(BitWriter& w) {
  w.bits(1, 1);  // BFINAL
  w.bits(1, 2);  // BTYPE
}
void fixed_symbol(BitWriter& w, unsigned s) {
  if (s < 144) return w.codeword(0x30 + s, 8);
  if (s < 256) return w.codeword(0x190 + s - 144, 9);
  if (s < 280) return w.codeword(s - 256, 7);
  w.codeword(0xC0 + s - 280, 8);
}

// A code-length symbol as written: a length, or a repeat with its extra bits.
struct CodeLength {
  unsigned symbol;
  uint32_t extra = 0;
};
std::vector<CodeLength> each_length(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  std::vector<CodeLength> out;
  for (uint8_t l : a) out.push_back({l});
  for (uint8_t l : b) out.push_back({l});
  return out;
}

// A symbol of the block's data in its literal/length code, or raw bits (a
// codeword that a code leaves unused).
struct Token {
  bool raw;
  uint32_t value;
  unsigned raw_length = 0;
};

// A final dynamic block: its header declares nlen and ndist code lengths and
// writes `lengths` (every code-length symbol has a codeword: 0-12 of 4 bits,
// 13-18 of 5); its data is written in the literal/length code `litlen`.
struct DynamicBlock {
  unsigned nlen, ndist;
  std::vector<CodeLength> lengths;
  std::vector<uint8_t> litlen;
  std::vector<Token> data;
};

std::string dynamic_chunk(const DynamicBlock& b) {
  static const uint8_t kOrder[19] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                     11, 4,  12, 3, 13, 2, 14, 1, 15};
  std::vector<uint8_t> code_lengths(19);
  for (unsigned s = 0; s < 19; s++) code_lengths[s] = s < 13 ? 4 : 5;
  const std::vector<uint32_t> cl = canonical(code_lengths), lit = canonical(b.litlen);
  BitWriter w;
  w.bits(1, 1);  // BFINAL
  w.bits(2, 2);  // BTYPE
  w.bits(b.nlen - 257, 5);
  w.bits(b.ndist - 1, 5);
  w.bits(19 - 4, 4);
  for (uint8_t s : kOrder) w.bits(code_lengths[s], 3);
  for (const CodeLength& c : b.lengths) {
    w.codeword(cl[c.symbol], code_lengths[c.symbol]);
    if (c.symbol >= 16) w.bits(c.extra, c.symbol == 16 ? 2 : c.symbol == 17 ? 3 : 7);
  }
  for (const Token& t : b.data) {
    if (t.raw) {
      w.codeword(t.value, t.raw_length);
    } else {
      w.codeword(lit[t.value], b.litlen[t.value]);
    }
  }
  return w.chunk();
}

// 'a', 'b', the end of block and a length-3 match, each of 2 bits.
std::vector<uint8_t> ab_litlen(unsigned nlen) {
  std::vector<uint8_t> l(nlen);
  l['a'] = l['b'] = l[kEndOfBlock] = l[kLength3] = 2;
  return l;
}
Token lit(uint32_t s) { return {false, s}; }
Token raw(uint32_t bits, unsigned length) { return {true, bits, length}; }

}  // namespace

LibdeflateTrailer::LibdeflateTrailer(size_t limit)
    : decompressor_(libdeflate_alloc_decompressor(), &libdeflate_free_decompressor), out_(limit) {}

std::string LibdeflateTrailer::seal(const std::string& chunk) {
  size_t used = 0, decoded = 0;
  if (chunk.size() < kZlibHeaderSize || !decompressor_ ||
      libdeflate_deflate_decompress_ex(decompressor_.get(), chunk.data() + kZlibHeaderSize,
                                       chunk.size() - kZlibHeaderSize, out_.data(), out_.size(),
                                       &used, &decoded) != LIBDEFLATE_SUCCESS) {
    return "";
  }
  const uLong adler = adler32(adler32(0, Z_NULL, 0), out_.data(), static_cast<uInt>(decoded));
  std::string sealed = chunk.substr(0, kZlibHeaderSize + used);
  for (int shift = 24; shift >= 0; shift -= 8) {  // most significant byte first
    sealed += static_cast<char>((adler >> shift) & 0xFF);
  }
  return sealed;
}

std::vector<LenientChunk> lenient_chunks() {
  std::vector<LenientChunk> out;
  LibdeflateTrailer trailer(kDecodedLimit);
  auto add = [&out, &trailer](const char* construct, const std::string& chunk) {
    out.push_back({construct, trailer.seal(chunk)});
  };
  for (unsigned symbol : {286u, 287u}) {
    BitWriter w;
    fixed_block(w);
    fixed_symbol(w, 'a');
    fixed_symbol(w, symbol);
    w.codeword(0, 5);
    fixed_symbol(w, kEndOfBlock);
    add(symbol == 286 ? "fixed code: length symbol 286" : "fixed code: length symbol 287",
        w.chunk());
  }
  for (unsigned symbol : {30u, 31u}) {  // behind 60115 bytes, farther than any distance
    BitWriter w;
    fixed_block(w);
    fixed_symbol(w, 'a');
    for (int i = 0; i < 233; i++) {
      fixed_symbol(w, kLength258);
      w.codeword(0, 5);  // distance 1
    }
    fixed_symbol(w, kLength3);
    w.codeword(symbol, 5);
    w.bits(0, 13);
    fixed_symbol(w, kEndOfBlock);
    add(symbol == 30 ? "fixed code: distance symbol 30" : "fixed code: distance symbol 31",
        w.chunk());
  }

  const std::vector<uint8_t> litlen = ab_litlen(258), two_dist = {1, 1};
  const std::vector<Token> ab = {lit('a'), lit('b'), lit(kEndOfBlock)};
  const std::vector<Token> ab_then_match = {lit('a'), lit('b'), lit(kLength3)};
  for (unsigned nlen : {287u, 288u}) {
    add(nlen == 287 ? "dynamic header: 287 literal/length lengths"
                    : "dynamic header: 288 literal/length lengths",
        dynamic_chunk({nlen, 2, each_length(ab_litlen(nlen), two_dist), litlen, ab}));
  }
  for (unsigned ndist : {31u, 32u}) {
    std::vector<uint8_t> dist = two_dist;
    dist.resize(ndist);
    add(ndist == 31 ? "dynamic header: 31 distance lengths" : "dynamic header: 32 distance lengths",
        dynamic_chunk({258, ndist, each_length(litlen, dist), litlen, ab}));
  }
  // Two lengths declared behind the literal/length ones; the first written,
  // then a repeat of at least three.
  for (unsigned repeat : {16u, 17u, 18u}) {
    std::vector<CodeLength> lengths = each_length(litlen, {1});
    lengths.push_back({repeat});
    add(repeat == 16   ? "code-length repeat 16 past the last length"
        : repeat == 17 ? "code-length repeat 17 past the last length"
                       : "code-length repeat 18 past the last length",
        dynamic_chunk({258, 2, lengths, litlen, ab}));
  }
  // Codes that leave a codeword unused, and the data using it.
  std::vector<Token> data = ab_then_match;
  data.push_back(raw(1, 1));
  data.push_back(lit(kEndOfBlock));
  add("unused codeword of a one-codeword distance code",
      dynamic_chunk({258, 1, each_length(litlen, {1}), litlen, data}));
  data = ab_then_match;
  data.push_back(raw(0, 1));
  data.push_back(lit(kEndOfBlock));
  add("codeword of an empty distance code",
      dynamic_chunk({258, 1, each_length(litlen, {0}), litlen, data}));
  std::vector<uint8_t> end_only(257);
  end_only[kEndOfBlock] = 1;
  add("unused codeword of a one-codeword literal/length code",
      dynamic_chunk({257, 1, each_length(end_only, {1}), end_only, {raw(1, 1), lit(kEndOfBlock)}}));
  return out;
}

}  // namespace kit
