// The application-restore child mode of the real binary: the connection is
// its standard input, and the dump set is chosen from the requested path.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "e2e_support.h"
#include "kit/temp_dir.h"
#include "rehearsal/dump_writer.h"
#include "rehearsal/stream_gen.h"

namespace {

using e2e::bytes_of;
using e2e::play_child;
using e2e::Playback;

class ChildMode : public testing::Test {
 protected:
  kit::TempDir root;
  std::string d1 = make_dir("d1");
  std::string d2 = make_dir("d2");
  kit::Stream stream = kit::minimal_stream();

  std::string make_dir(const std::string& name) {
    std::string path = root.file(name);
    mkdir(path.c_str(), 0700);
    return path;
  }
  kit::DestinationOptions request(const std::string& path) {
    kit::DestinationOptions d;
    d.src_path = path;
    return d;
  }
};

TEST_F(ChildMode, SetIsChosenFromTheRequestedPathAndPlayedOverStandardInput) {
  ASSERT_TRUE(kit::write_plain_set(d2 + "/db1", stream, {3}).ok());
  Playback p = play_child({"-h", d1, d2}, request("/vol/app/db1.mdf"));
  EXPECT_EQ(p.status.code, 0) << p.err;
  EXPECT_TRUE(p.dest.complete) << p.dest.error;
  EXPECT_TRUE(e2e::same_blocks(bytes_of(p.dest.blocks), bytes_of(stream, 1, stream.size() - 1)));
  EXPECT_EQ(p.out.find("Waiting for connection"), std::string::npos);
  EXPECT_EQ(p.out.rfind("brix_writer: Will read 2 files from prefix " + d2 + "/db1\n", 0), 0u);
}

TEST_F(ChildMode, ConfigurationSetIsTakenByItsWholeName) {
  ASSERT_TRUE(kit::write_plain_set(d1 + "/HBAK__APP__CONFIG__", stream, {}).ok());
  Playback p = play_child({"-h", d1, d2}, request("/app/HBAK__APP__CONFIG__"));
  EXPECT_EQ(p.status.code, 0) << p.err;
  EXPECT_TRUE(p.dest.complete);
}

TEST_F(ChildMode, PathWithoutSlashFailsTheNegotiation) {
  ASSERT_TRUE(kit::write_plain_set(d1 + "/db1", stream, {}).ok());
  Playback p = play_child({"-h", d1}, request("db1"));
  EXPECT_EQ(p.status.code, 255);
  EXPECT_EQ(p.err, "error in getting app brix dump file paths \n");
  EXPECT_EQ(p.dest.reply_kind, kit::ReplyKind::none);
}

TEST_F(ChildMode, NoDirectoryHoldingTheSetFailsWhenTheSetIsOpened) {
  Playback p = play_child({"-h", d1, d2}, request("/vol/app/db9.mdf"));
  EXPECT_EQ(p.status.code, 255);
  EXPECT_EQ(p.err, "No dump file set to open\n");
}

TEST_F(ChildMode, EncryptedSetIsReadWithThePasswordFromTheCommandLine) {
  const std::string fixtures = BRIX_FIXTURES_DIR;
  std::filesystem::copy_file(fixtures + "/ce_mode2.0", d1 + "/db2.0");
  std::string expected, error;
  ASSERT_TRUE(kit::read_file(fixtures + "/ce_mode2.stream", expected, error));
  Playback p = play_child({"-h", "-E", "Mode2-Fixture-Pass", d1}, request("/vol/app/db2"));
  EXPECT_EQ(p.status.code, 0) << p.err;
  EXPECT_TRUE(p.dest.complete) << p.dest.error;
  EXPECT_TRUE(e2e::same_blocks(bytes_of(p.dest.blocks), expected.substr(LR_BLOCK_SIZE)));
  EXPECT_EQ(p.err.find("Enter the decryption password:"), std::string::npos);  // no prompt here
}

}  // namespace
