// A test fixture with a directory of its own under /tmp, removed after each
// test, and files written into it by name.
#ifndef CYCLEKIT_TEST_SCRATCH_DIR_H
#define CYCLEKIT_TEST_SCRATCH_DIR_H

#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>
#include <string>

#include "support/run_program.h"

class ScratchDir : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/cyclekit_test_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { run_program({"rm", "-rf", dir_}); }

  // Writes text to the file name in the directory; its path.
  std::string write(const std::string &name, const std::string &text) {
    std::string path = dir_ + "/" + name;
    std::ofstream(path) << text;
    return path;
  }

  std::string dir_;
};

#endif
