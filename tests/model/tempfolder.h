// A fresh temporary data folder per test, set as the global `path`, with helpers to write and
// read its files; removed again with everything in it.
#pragma once
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "model/map.h"

struct tempfolder : ::testing::Test {
  std::string dir;  // the folder, without a trailing '/'

  void SetUp() override {
    char name[] = "/tmp/smtestXXXXXX";
    ASSERT_NE(mkdtemp(name), nullptr);
    dir = name;
    snprintf(path, sizeof path, "%s", dir.c_str());
  }
  void TearDown() override { std::system(("rm -rf " + dir).c_str()); }

  std::string file(const std::string& name) const { return dir + "/" + name; }
  void write(const std::string& name, const std::string& text) const {
    std::ofstream(file(name), std::ios::binary) << text;
  }
  std::string read(const std::string& name) const {
    std::ifstream in(file(name), std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
  }
  bool exists(const std::string& name) const { return std::ifstream(file(name)).good(); }
};
