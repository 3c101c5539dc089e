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
  const char* what[] = {"run", "help", "version", "usage", "refused"};
  std::string said = what[o.what];
  if (o.folder) said += " folder=" + std::string(o.folder);
  if (o.participant) said += " participant=" + std::string(o.participant);
  if (o.session) said += " session=" + std::string(o.session);
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
      {"--seed 4294967296",
       "usage (--seed needs a whole number from 0 to 4294967295, not "
       "'4294967296')"},
      {"--seed -1", "usage (--seed needs a whole number from 0 to 4294967295, not '-1')"},
      {"--seed 12x", "usage (--seed needs a whole number from 0 to 4294967295, not '12x')"},
      {"--seed", "usage (--seed needs a whole number from 0 to 4294967295, not '')"},
  };
  for (auto& c : cases) EXPECT_EQ(parsed(c[0]), c[1]) << c[0];
  for (const char* named : {"--window", "--seed", "--help", "--version", "-display", "-geometry",
                            "-direct", "-indirect", "-iconic", "-gldebug", "-sync"})
    EXPECT_NE(usagetext().find(named), std::string::npos) << named << " missing from the usage";
}

// An ID names a participant or session in file names and tables: 1 to 64 printable ASCII
// characters, no path separator; anything else is refused in one line, never run with.
TEST(Options, ParticipantAndSessionAreIdsOrRefusedInOneLine) {
  const std::string rule = ": an ID is 1 to 64 printable ASCII characters other than '/' and '\\'";
  const std::string cases[][2] = {
      {"--participant P-01 --session 2 /d", "run folder=/d participant=P-01 session=2"},
      {"--session", "usage (--session needs a value)"},
      {"--session a --session b", "usage session=b (--session given twice)"},
      {"--participant ../x",
       "refused participant=../x (--participant \"../x\" holds a '/' or '\\'" + rule + ")"},
      {"--participant a\\b --help", "help participant=a\\b"},
  };
  for (auto& c : cases) EXPECT_EQ(parsed(c[0]), c[1]) << c[0];
  EXPECT_EQ(idproblem(std::string(64, 'x').c_str()), "");
  EXPECT_EQ(idproblem("a b ~!"), "");
  EXPECT_EQ(idproblem(""), "is empty" + rule);
  EXPECT_EQ(idproblem(std::string(65, 'x').c_str()),
            "\"" + std::string(65, 'x') + "\" is 65 characters long" + rule);
  // Whatever the ID holds, the refusal is one line.
  EXPECT_EQ(
      idproblem("two\nlines\t\xc3\xa9"),
      "\"two\\x0alines\\x09\\xc3\\xa9\" holds a character that is not printable ASCII" + rule);
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
