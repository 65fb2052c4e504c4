// Output files: they take their name only when complete, a failed, dropped
// or killed write leaves what stood there, and nothing else stays behind.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "io/files.h"
#include "io/output_file.h"
#include "tests/io/file_size_limit.h"
#include "tests/io/temp_dir.h"

namespace mpo {
namespace {

using test::read_bytes;
using test::TempDir;
using test::write_bytes;
namespace stdfs = std::filesystem;

class OutputFiles : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(dir.ok()); }
  // Every name in the folder, hidden ones included.
  std::vector<std::string> names() const {
    std::vector<std::string> all;
    for (const auto& e : stdfs::directory_iterator(dir.root())) all.push_back(e.path().filename());
    std::sort(all.begin(), all.end());
    return all;
  }
  TempDir dir;
  FileService fs;
};

TEST_F(OutputFiles, AppearUnderTheirNameOnlyWhenClosed) {
  write_bytes(dir.path("out"), "old");
  ASSERT_NE(fs.create_output_file(1, dir.text("out")), 0);
  ASSERT_NE(fs.create_output_file(2, dir.text("fresh")), 0);
  fs.write_block(1, "new data", 8);
  fs.write_block(2, "f", 1);
  // Readers of the names meanwhile see what stood there before.
  EXPECT_EQ(read_bytes(dir.path("out")), "old");
  EXPECT_EQ(FileService::file_size(dir.text("fresh")), -1);
  // The slot itself reads back what was written.
  EXPECT_EQ(fs.file_length(1), 8);
  fs.set_file_position(1, 4);
  char back[4] = {};
  EXPECT_EQ(fs.read_block(1, back, 4), 4);
  EXPECT_EQ(std::string(back, 4), "data");
  EXPECT_EQ(fs.close_file(1), 1);
  EXPECT_EQ(fs.close_file(2), 1);
  EXPECT_EQ(read_bytes(dir.path("out")), "new data");
  EXPECT_EQ(read_bytes(dir.path("fresh")), "f");
  EXPECT_EQ(names(), (std::vector<std::string>{"fresh", "out"}));

  // Slot reuse and the end of the service close outputs like other files.
  {
    FileService local;
    ASSERT_NE(local.create_output_file(0, dir.text("a")), 0);
    local.write_line(0, u"a");
    ASSERT_NE(local.create_output_file(0, dir.text("b")), 0);
    EXPECT_EQ(read_bytes(dir.path("a")), "a\r\n");
    local.write_line(0, u"b");
  }
  EXPECT_EQ(read_bytes(dir.path("b")), "b\r\n");
}

TEST_F(OutputFiles, FailedAbandonedOrKilledWritesKeepWhatStoodThere) {
  write_bytes(dir.path("out"), "old");
  const std::string big(10000, 'x');
  int closed = -1;
  {
    test::FileSizeLimit limit(6000);  // the write is cut short (EFBIG)
    ASSERT_TRUE(limit.active());
    ASSERT_NE(fs.create_output_file(1, dir.text("out")), 0);
    fs.write_block(1, big.data(), 10000);
    closed = fs.close_file(1);
  }
  EXPECT_EQ(closed, 0);
  EXPECT_EQ(read_bytes(dir.path("out")), "old");

  ASSERT_NE(fs.create_output_file(1, dir.text("out")), 0);
  fs.write_block(1, big.data(), 10000);
  fs.abandon_file(1);
  EXPECT_EQ(fs.file_length(1), -1);
  EXPECT_EQ(read_bytes(dir.path("out")), "old");
  EXPECT_EQ(names(), std::vector<std::string>{"out"});

  // A process killed in the middle of writing.
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    FileService writer;
    if (writer.create_output_file(1, dir.text("out")) == 0) ::_exit(3);
    writer.write_block(1, big.data(), 10000);
    ::kill(::getpid(), SIGKILL);
    ::_exit(4);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(read_bytes(dir.path("out")), "old");
  // Where the file system has no unnamed files, a hidden temporary may
  // stay; it never carries an output's name.
  for (const std::string& name : names()) {
    if (name != "out") {
      EXPECT_EQ(name.rfind(".mpo-convert-", 0), 0u) << name;
    }
  }
}

// Where the file system has no unnamed files: a hidden temporary beside
// the output, renamed onto it or removed again.
TEST_F(OutputFiles, NamedTemporaryIsRenamedOrRemoved) {
  write_bytes(dir.path("out"), "old");
  {
    PendingFile pending = PendingFile::start(dir.path("out"), O_WRONLY, false);
    ASSERT_GE(pending.fd(), 0);
    ASSERT_EQ(::write(pending.fd(), "new", 3), 3);
    const std::vector<std::string> meanwhile = names();
    ASSERT_EQ(meanwhile.size(), 2u);
    EXPECT_EQ(meanwhile[0].rfind(".mpo-convert-", 0), 0u) << meanwhile[0];
    EXPECT_EQ(read_bytes(dir.path("out")), "old");
    EXPECT_TRUE(pending.commit());
    EXPECT_FALSE(pending.commit());  // once only
  }
  EXPECT_EQ(read_bytes(dir.path("out")), "new");
  EXPECT_EQ(names(), std::vector<std::string>{"out"});
  {
    PendingFile pending = PendingFile::start(dir.path("out"), O_WRONLY, false);
    ASSERT_GE(pending.fd(), 0);
    ASSERT_EQ(::write(pending.fd(), "dropped", 7), 7);
    PendingFile moved = std::move(pending);
    EXPECT_EQ(pending.fd(), -1);
  }  // dropped without commit
  EXPECT_EQ(read_bytes(dir.path("out")), "new");
  EXPECT_EQ(names(), std::vector<std::string>{"out"});
}

TEST_F(OutputFiles, ReplaceLinksAndRefuseSpecialFiles) {
  // A symbolic link and a second hard link are replaced, never written
  // through.
  write_bytes(dir.path("target"), "target");
  ASSERT_EQ(::symlink(dir.path("target").c_str(), dir.path("sym").c_str()), 0);
  ASSERT_EQ(::link(dir.path("target").c_str(), dir.path("hard").c_str()), 0);
  for (const char* name : {"sym", "hard"}) {
    ASSERT_NE(fs.create_output_file(1, dir.text(name)), 0) << name;
    fs.write_block(1, "mine", 4);
    ASSERT_EQ(fs.close_file(1), 1);
    struct stat st;
    ASSERT_EQ(::lstat(dir.path(name).c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode) && st.st_nlink == 1) << name;
    EXPECT_EQ(read_bytes(dir.path(name)), "mine");
  }
  EXPECT_EQ(read_bytes(dir.path("target")), "target");

  // A directory or FIFO at the name stays and is not opened.
  ASSERT_EQ(::mkdir(dir.path("d").c_str(), 0755), 0);
  ASSERT_EQ(::mkfifo(dir.path("fifo").c_str(), 0644), 0);
  EXPECT_EQ(fs.create_output_file(1, dir.text("d")), 0);
  EXPECT_EQ(fs.create_output_file(1, dir.text("fifo")), 0);
  EXPECT_EQ(fs.create_output_file(1, dir.text("missing/x")), 0);
  struct stat st;
  ASSERT_EQ(::lstat(dir.path("fifo").c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));

  // The permission bits of a replaced file carry over.
  write_bytes(dir.path("private"), "p");
  ASSERT_EQ(::chmod(dir.path("private").c_str(), 0640), 0);
  ASSERT_NE(fs.create_output_file(1, dir.text("private")), 0);
  ASSERT_EQ(fs.close_file(1), 1);
  ASSERT_EQ(::stat(dir.path("private").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST_F(OutputFiles, PermissionsDecideAsForOverwriting) {
  if (::geteuid() == 0) GTEST_SKIP() << "root may write any file";
  // A file we may not write is not replaced.
  write_bytes(dir.path("locked"), "locked");
  ASSERT_EQ(::chmod(dir.path("locked").c_str(), 0444), 0);
  EXPECT_EQ(fs.create_output_file(1, dir.text("locked")), 0);
  EXPECT_EQ(read_bytes(dir.path("locked")), "locked");
  // In a folder that takes no new files nothing is written in place: the
  // output fails and the earlier file stays whole.
  ASSERT_EQ(::mkdir(dir.path("ro").c_str(), 0755), 0);
  write_bytes(dir.path("ro/f"), "old");
  ASSERT_EQ(::chmod(dir.path("ro").c_str(), 0555), 0);
  EXPECT_EQ(fs.create_output_file(1, dir.text("ro/f")), 0);
  EXPECT_EQ(read_bytes(dir.path("ro/f")), "old");
  EXPECT_EQ(fs.create_output_file(1, dir.text("ro/g")), 0);
  ::chmod(dir.path("ro").c_str(), 0755);
}

}  // namespace
}  // namespace mpo
