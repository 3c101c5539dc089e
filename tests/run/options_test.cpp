// The command line read without running anything, and the data folder check on real folders.
#include "run/options.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

namespace {

// parseoptions over a command line's words after the program's name, told back in one line:
// the action, the folder, the window, what the toolkit gets after argv[0], and the mistake.
std::string parsed(const std::string& line) {
  std::vector<std::string> words = {"/lab/spatialmemory"};
  std::istringstream in(line);
  for (std::string w; in >> w;) words.push_back(w);
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  options o = parseoptions(static_cast<int>(words.size()), argv.data());
  const char* what[] = {"run", "help", "version", "usage"};
  std::string said = what[o.what];
  if (o.folder) said += " folder=" + std::string(o.folder);
  if (o.window) said += " window";
  if (o.seed >= 0) said += " seed=" + std::to_string(o.seed);
  for (size_t i = 1; i < o.toolkit.size(); i++) said += " " + std::string(o.toolkit[i]);
  if (!o.mistake.empty()) said += " (" + o.mistake + ")";
  EXPECT_STREQ(o.toolkit.at(0), "/lab/spatialmemory");
  return said;
}

TEST(Options, TheFolderTheWindowTheToolkitsOptionsHelpVersionAndMistakes) {
  const char* cases[][2] = {
      {"", "run"},
      {"/data/s7", "run folder=/data/s7"},
      {"-display :3 --window s7 -geometry 800x500+0+0 -sync",
       "run folder=s7 window -display :3 -geometry 800x500+0+0 -sync"},
      {"-direct -indirect -iconic -gldebug", "run -direct -indirect -iconic -gldebug"},
      {"-", "run folder=-"},
      {"--window -- --help", "run folder=--help window"},
      {"--help", "help"},
      {"--version s7", "version folder=s7"},
      {"--version --help", "help"},
      {"--help --bogus", "usage (unknown option --bogus)"},
      {"--window=1", "usage (unknown option --window=1)"},
      {"s7 s8", "usage folder=s8 (more than one data folder: s7, s8)"},
      {"--window -display", "usage window -display (-display needs a value)"},
      {"--seed 0 s7", "run folder=s7 seed=0"},
      {"--seed 4294967295", "run seed=4294967295"},
      {"--seed 4294967296", "usage (--seed needs a whole number from 0 to 4294967295, not "
                            "'4294967296')"},
      {"--seed -1", "usage (--seed needs a whole number from 0 to 4294967295, not '-1')"},
      {"--seed 12x", "usage (--seed needs a whole number from 0 to 4294967295, not '12x')"},
      {"--seed", "usage (--seed needs a whole number from 0 to 4294967295, not '')"},
  };
  for (auto& c : cases) EXPECT_EQ(parsed(c[0]), c[1]) << c[0];
  for (const char* named : {"--window", "--seed", "--help", "--version", "-display", "-geometry", "-direct",
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
