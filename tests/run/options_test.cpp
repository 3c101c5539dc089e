// The command line read without running anything, and the data folder check on real folders.
#include "run/options.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// parseoptions over the words of a command line after the program's name.
options parse(std::vector<std::string> words) {
  static std::vector<std::string> keep;  // argv points into it until the next call
  keep = words;
  keep.insert(keep.begin(), "/lab/spatialmemory");
  static std::vector<char*> argv;
  argv.clear();
  for (std::string& w : keep) argv.push_back(w.data());
  argv.push_back(nullptr);
  return parseoptions(static_cast<int>(keep.size()), argv.data());
}

std::vector<std::string> strings(const std::vector<char*>& v) {
  return std::vector<std::string>(v.begin(), v.end());
}

TEST(Options, RunsWithTheFolderTheWindowAndTheToolkitsOptionsInAnyOrder) {
  struct {
    std::vector<std::string> words;
    const char* folder;  // null: the folder from the program's path
    bool window;
    std::vector<std::string> toolkit;  // after argv[0]
  } cases[] = {
      {{}, nullptr, false, {}},
      {{"/data/s7"}, "/data/s7", false, {}},
      {{"--window"}, nullptr, true, {}},
      {{"-display", ":3", "--window", "s7", "-geometry", "800x500+0+0", "-sync"},
       "s7",
       true,
       {"-display", ":3", "-geometry", "800x500+0+0", "-sync"}},
      {{"-direct", "-indirect", "-iconic", "-gldebug"},
       nullptr,
       false,
       {"-direct", "-indirect", "-iconic", "-gldebug"}},
      {{"-"}, "-", false, {}},
      {{"--window", "--", "--help"}, "--help", true, {}},
      {{"--", "-display"}, "-display", false, {}},
  };
  for (const auto& c : cases) {
    options o = parse(c.words);
    std::string said = testing::PrintToString(c.words);
    EXPECT_EQ(o.what, options::run) << said << ": " << o.mistake;
    EXPECT_EQ(o.folder ? std::string(o.folder) : "(none)", c.folder ? c.folder : "(none)") << said;
    EXPECT_EQ(o.window, c.window) << said;
    std::vector<std::string> toolkit = c.toolkit;
    toolkit.insert(toolkit.begin(), "/lab/spatialmemory");
    EXPECT_EQ(strings(o.toolkit), toolkit) << said;
  }
}

TEST(Options, HelpWinsOverVersionAndAMistakeOverBoth) {
  struct {
    std::vector<std::string> words;
    options::action what;
    const char* mistake;  // a word the one-line mistake must name
  } cases[] = {
      {{"--help"}, options::help, ""},
      {{"--version", "s7"}, options::version, ""},
      {{"--version", "--help"}, options::help, ""},
      {{"--help", "--bogus"}, options::usage, "--bogus"},
      {{"-x", "s7"}, options::usage, "-x"},
      {{"--window=1"}, options::usage, "--window=1"},
      {{"s7", "s8"}, options::usage, "s8"},
      {{"--window", "-display"}, options::usage, "-display"},
  };
  for (const auto& c : cases) {
    options o = parse(c.words);
    std::string said = testing::PrintToString(c.words);
    EXPECT_EQ(o.what, c.what) << said;
    EXPECT_NE(o.mistake.find(c.mistake), std::string::npos) << said << ": " << o.mistake;
    EXPECT_EQ(o.mistake.find('\n'), std::string::npos) << said;
  }
  for (const char* named : {"--window", "--help", "--version", "-display", "-geometry", "-direct",
                            "-indirect", "-iconic", "-gldebug", "-sync"})
    EXPECT_NE(usagetext().find(named), std::string::npos) << named << " missing from the usage";
}

TEST(Options, TakesAnExistingFolderThatFitsWithoutItsTrailingSlashes) {
  char made[] = "/tmp/sm_folderXXXXXX";  // 20 characters
  ASSERT_TRUE(mkdtemp(made));
  std::string file = std::string(made) + "/settings.txt";
  fclose(fopen(file.c_str(), "w"));
  char out[32] = "untouched";
  std::string why;
  EXPECT_TRUE(takefolder((std::string(made) + "//").c_str(), out, 21, &why)) << why;
  EXPECT_STREQ(out, made);
  EXPECT_TRUE(takefolder("/", out, 21, &why)) << why;
  EXPECT_STREQ(out, "");  // the map joins it into "/settings.txt"
  strcpy(out, "untouched");
  // Not there, not a folder, one character too long: refused, `out` kept, the folder named.
  for (auto [folder, size] :
       {std::pair{std::string(made) + "/none", 32}, {file, 32}, {std::string(made), 20}}) {
    why.clear();
    EXPECT_FALSE(takefolder(folder.c_str(), out, size, &why)) << folder;
    EXPECT_NE(why.find(folder), std::string::npos) << why;
    EXPECT_STREQ(out, "untouched");
  }
  unlink(file.c_str());
  rmdir(made);
}

}  // namespace
