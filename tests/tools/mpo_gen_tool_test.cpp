// The mpo-gen tool writes what the library generates for the same options,
// with the documented exit codes; exiftool, as an independent reader, sees
// the Exif texts.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "tests/support/files.h"
#include "tests/support/process.h"
#include "tests/support/temp_dir.h"
#include "tools/mpogen/mpogen.h"

namespace fs = std::filesystem;

namespace {

const std::string kTool = std::string(MPO_BINARY_DIR) + "/tools/mpo-gen";

// A shell command line's exit status and standard output.
int run(const std::string& command) {
  return mpo::test::run_process({"/bin/sh", "-c", command}).status;
}
std::string capture(const std::string& command) {
  return mpo::test::run_process({"/bin/sh", "-c", command}).out;
}

class MpoGenTool : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(kTool)) GTEST_SKIP() << "mpo-gen not built";
    ASSERT_TRUE(tmp_.ok());
    dir_ = tmp_.path();
  }
  mpo::test::TempDir tmp_{"mpogen-tool"};
  fs::path dir_;
};

}  // namespace

TEST_F(MpoGenTool, WritesTheLibraryOutputForTheSameOptions) {
  const fs::path out = dir_ / "a.mpo";
  ASSERT_EQ(run(kTool + " --out " + out.string() +
                " --width 200 --height 150 --quality 75 --seed 7 --variant unequal_halves"
                " --make ACME --model 'Twin Lens' --software 'FW 2.0'"),
            0);
  mpogen::Options o;
  o.width = 200;
  o.height = 150;
  o.quality = 75;
  o.seed = 7;
  o.variant = mpogen::Variant::unequal_halves;
  o.make = "ACME";
  o.model = "Twin Lens";
  o.software = "FW 2.0";
  EXPECT_EQ(mpo::test::read_bytes(out), mpogen::make_mpo(o).bytes);
}

TEST_F(MpoGenTool, ExitCodesForHelpUsageErrorsAndFailures) {
  EXPECT_EQ(run(kTool + " --help"), 0);
  EXPECT_NE(capture(kTool + " --help").find("--out PATH"), std::string::npos);
  const std::string out = " --out " + (dir_ / "b.mpo").string();
  EXPECT_EQ(run(kTool), 2);                                    // no --out
  EXPECT_EQ(run(kTool + out + " --variant fancy"), 2);         // unknown variant
  EXPECT_EQ(run(kTool + out + " --width 0"), 2);               // out of range
  EXPECT_EQ(run(kTool + out + " --quality 9x"), 2);            // not a number
  EXPECT_EQ(run(kTool + out + " --colour red"), 2);            // unknown option
  EXPECT_EQ(run(kTool + out + " --seed"), 2);                  // value missing
  EXPECT_FALSE(fs::exists(dir_ / "b.mpo"));
  EXPECT_EQ(run(kTool + " --width 64 --height 48 --out " + (dir_ / "missing" / "c.mpo").string()), 1);
}

TEST_F(MpoGenTool, ExiftoolReadsTheExifTexts) {
  if (run("exiftool -ver") != 0) GTEST_SKIP() << "exiftool not installed";
  for (const char* variant : {"camera", "app0_first"}) {
    SCOPED_TRACE(variant);
    const fs::path out = dir_ / (std::string(variant) + ".mpo");
    ASSERT_EQ(run(kTool + " --width 160 --height 120 --variant " + variant + " --make 'Make X' --model 'Model Y'" +
                  " --software 'Soft Z 1.0' --out " + out.string()),
              0);
    EXPECT_EQ(capture("exiftool -s3 -Make -Model -Software -Orientation# " + out.string()),
              "Make X\nModel Y\nSoft Z 1.0\n1\n");
  }
}
