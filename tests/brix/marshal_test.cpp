// Header recognition, byte order of stream fields, and the names used in
// messages.
#include "marshal.h"

#include <gtest/gtest.h>

#include <cstring>

#include "lr.h"

namespace {

TEST(Marshal, HeaderIsRecognisedByLittleEndianMagicOnly) {
  alignas(8) lr_hdr block{};
  alignas(8) lr_hdr converted{};
  const unsigned char magic_le[4] = {0xFD, 0x34, 0x01, 0x00};
  memcpy(&block, magic_le, 4);
  EXPECT_EQ(marshal_hdr(&block, &converted), &block);

  const unsigned char magic_be[4] = {0x00, 0x01, 0x34, 0xFD};
  memcpy(&block, magic_be, 4);
  EXPECT_EQ(marshal_hdr(&block, &converted), nullptr);
}

TEST(Marshal, IntegersAreLittleEndianOnTheWire) {
  const unsigned char bytes[8] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08};
  uint32 u4;
  uint16 u2;
  uint64_t u8;
  memcpy(&u4, bytes, 4);
  memcpy(&u2, bytes, 2);
  memcpy(&u8, bytes, 8);
  EXPECT_EQ(marshal_uint4(u4), 0x04030201u);
  EXPECT_EQ(marshal_uint2(u2), 0x0201u);
  EXPECT_EQ(marshal_uint8(u8), 0x0807060504030201ull);
}

TEST(Marshal, FileSizeOfFourGibibytesIsStoredLowWordFirst) {
  alignas(8) lr_hdr block{};
  block.u_lr_hdr_info.hdr.h_file_metadata.ri_size[0] = marshal_uint4(0);
  block.u_lr_hdr_info.hdr.h_file_metadata.ri_size[1] = marshal_uint4(1);
  const unsigned char expected[8] = {0, 0, 0, 0, 1, 0, 0, 0};
  EXPECT_EQ(memcmp(reinterpret_cast<const char*>(&block) + 64, expected, 8), 0);
}

TEST(HeaderNames, KnownTypesHaveTheirEnumerationNames) {
  EXPECT_STREQ(hdr_type_to_string(1), "LR_HDR_START_STREAM");
  EXPECT_STREQ(hdr_type_to_string(6), "LR_HDR_DISCARD_DATA");
  EXPECT_STREQ(hdr_type_to_string(1024), "LR_HDR_FILE");
  EXPECT_STREQ(hdr_type_to_string(1025), "LR_HDR_EXT_ATTR");
  EXPECT_STREQ(file_type_to_string(1), "FILE_TYPE_REGULAR");
  EXPECT_STREQ(file_type_to_string(12), "FILE_TYPE_NTSTREAM_DIR");
  EXPECT_STREQ(file_type_to_string(15), "FILE_TYPE_VDISK");
}

TEST(HeaderNames, UnknownValuesAreShownAsBogusWithTheirNumber) {
  EXPECT_STREQ(hdr_type_to_string(0), "LR_HDR_BOGUS(0)");
  EXPECT_STREQ(hdr_type_to_string(7), "LR_HDR_BOGUS(7)");
  EXPECT_STREQ(hdr_type_to_string(static_cast<uint32>(-3)), "LR_HDR_BOGUS(-3)");
  // 0 has an enumeration name but is still shown as bogus, without the
  // underscore between FILE and TYPE.
  EXPECT_STREQ(file_type_to_string(0), "FILETYPE_BOGUS(0)");
  EXPECT_STREQ(file_type_to_string(16), "FILETYPE_BOGUS(16)");
}

TEST(HeaderNames, FallbackTextIsSharedBetweenBothFunctions) {
  const char* first = hdr_type_to_string(9);
  file_type_to_string(99);
  EXPECT_STREQ(first, "FILETYPE_BOGUS(99)");
}

}  // namespace
