#include "lib/temporary_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "lib/collection_path.h"

namespace zarvel {
namespace {

namespace fs = std::filesystem;

std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void write_file(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// A fresh directory, removed with everything in it at the end of the test.
class TemporaryFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "zarvel-tmp-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    target_ = (dir_ / "c.json").string();
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::vector<std::string> entries() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }

  fs::path dir_;
  std::string target_;
};

// Hands out the given bits in turn.
UniqueBits sequence(std::vector<std::uint64_t> bits) {
  return [bits, next = std::size_t{0}]() mutable { return bits[next++ % bits.size()]; };
}

TEST(TemporaryFileNameTest, NamesAreHiddenBesideTheTargetAndRecognised) {
  EXPECT_EQ(temporary_file_path("db/c.json", 0x0123456789abcdef),
            "db/.c.json.0123456789abcdef.tmp");
  EXPECT_EQ(temporary_file_path("c.json", 255), ".c.json.00000000000000ff.tmp");
  EXPECT_TRUE(is_temporary_file_name(".c.json.0123456789abcdef.tmp"));
  EXPECT_TRUE(is_temporary_file_name("...json.0000000000000000.tmp"));  // the collection "."
  for (const char* name : {"c.json", "c.json.tmp", ".c.json.tmp", "c.json.0123456789abcdef.tmp",
                           ".c.json.0123456789ABCDEF.tmp", ".c.json.0123456789abcde.tmp",
                           ".c.txt.0123456789abcdef.tmp", ".json.0123456789abcdef.tmp",
                           ".c.json.0123456789abcdef.tmp.json"}) {
    EXPECT_FALSE(is_temporary_file_name(name)) << name;
  }
}

TEST(TemporaryFileNameTest, NamesWhoseTemporaryFileWouldNotFitAreRefused) {
  // 228 bytes and the 27 a temporary file name adds make the 255 a file name may have.
  EXPECT_TRUE(validate_collection_name(std::string(228, 'x')).ok());
  Status refused = validate_collection_name(std::string(229, 'x'));
  EXPECT_EQ(refused.kind(), ErrorKind::kInvalidArgument);
  EXPECT_EQ(temporary_file_path(std::string(228, 'x') + ".json", 0).size(), 255u);
}

TEST_F(TemporaryFileTest, PlantedLinksAndFilesAreNeitherFollowedNorReused) {
  std::string outside = (dir_ / "outside").string();
  write_file(outside, "keep");
  fs::create_symlink(outside, temporary_file_path(target_, 1));
  write_file(temporary_file_path(target_, 2), "someone else's");
  {
    Result<TemporaryFile> temporary = TemporaryFile::create(target_, sequence({1, 2, 3}));
    ASSERT_TRUE(temporary.ok()) << temporary.status().message();
    EXPECT_EQ(temporary.value().path(), temporary_file_path(target_, 3));
    ASSERT_TRUE(write_all(temporary.value().fd(), "[]").ok());
    ASSERT_TRUE(temporary.value().replace_target().ok());
  }
  EXPECT_EQ(read_file(outside), "keep");
  EXPECT_EQ(read_file(temporary_file_path(target_, 2)), "someone else's");
  EXPECT_EQ(read_file(target_), "[]");
  EXPECT_FALSE(fs::is_symlink(target_));
  EXPECT_FALSE(fs::exists(temporary_file_path(target_, 3)));
}

TEST_F(TemporaryFileTest, AnUninstalledFileIsRemovedAndAnExistingTargetIsNotReplaced) {
  { ASSERT_TRUE(TemporaryFile::create(target_).ok()); }
  EXPECT_TRUE(entries().empty());
  fs::create_symlink("nowhere", target_);  // dangling: still something there
  {
    Result<TemporaryFile> temporary = TemporaryFile::create(target_);
    ASSERT_TRUE(temporary.ok());
    EXPECT_EQ(temporary.value().install_as_new_target().os_errno(), EEXIST);
  }
  EXPECT_EQ(fs::read_symlink(target_), "nowhere");
  EXPECT_EQ(entries(), std::vector<std::string>{"c.json"});
}

TEST_F(TemporaryFileTest, NeitherFifosNorLinksAreTakenForStaleFiles) {
  // (Stale files against ones locked by a live writer: test_temporary_files.py.)
  std::string fifo = temporary_file_path(target_, 1);
  std::string link = temporary_file_path(target_, 2);
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);  // opening it must not block either
  fs::create_symlink(target_, link);
  write_file(target_, "[]");
  for (const std::string& path : {fifo, link}) remove_if_stale(path);
  EXPECT_EQ(entries(), (std::vector<std::string>{".c.json.0000000000000001.tmp",
                                                 ".c.json.0000000000000002.tmp", "c.json"}));
}

}  // namespace
}  // namespace zarvel
