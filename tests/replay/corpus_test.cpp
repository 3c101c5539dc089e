// The replay's four readers on a corpus of hostile files, through the tool itself: each file of
// tests/replay/corpus/KIND/ takes the place of that file in a copy of a recorded run, and the
// tool must end within its time, with status 1 and one line on standard error that names the
// file and says what refusals.tsv says of it. A crash, a hang, a sanitizer's report, a refusal
// for another reason or a message that quotes a whole line fails.
#include <gtest/gtest.h>

#include <map>

#include "tests/corpus.h"
#include "tests/replay/replaytest.h"

TEST(ReplayCorpus, EveryHostileFileIsRefusedInOneLineThatNamesIt) {
  const liverun& live = liverun::get();
  // What each file is refused for (refusals.tsv): the start of the message after the folder.
  std::map<std::string, std::string> refusal;
  std::istringstream index(readall(sourcetop() + "/tests/replay/corpus/refusals.tsv"));
  for (std::string line; std::getline(index, line);)
    refusal[line.substr(0, line.find('\t'))] = line.substr(line.find('\t') + 1);
  const size_t listed = refusal.size();  // every file of the corpus, and no other
  const std::pair<std::string, std::string> kinds[] = {{"tab", "results0.txt"},
                                                       {"coord", "results_coord0.txt"},
                                                       {"log", "results_events0.tsv"},
                                                       {"sidecar", "results_events0.json"}};
  size_t tried = 0;
  for (const auto& [kind, file] : kinds) {
    const std::string corpus = sourcetop() + "/tests/replay/corpus/" + kind + "/";
    for (const std::string& entry : corpusfiles(corpus)) {
      SCOPED_TRACE(kind + "/" + entry);
      const std::string folder = live.copy("corpus-" + kind + "-" + entry);
      const std::string replaced = folder + "/" + file;
      std::ofstream(replaced, std::ios::binary) << readall(corpus + entry);
      const toolrun r =
          runtool({SM_REPLAY_PROGRAM, folder + "/results0.txt", "--out", folder + "/out"}, 60);
      EXPECT_EQ(r.status, 1) << r.err;
      EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
      EXPECT_EQ(r.err.rfind("spatialmemory-replay: ", 0), 0u) << r.err;
      EXPECT_NE(r.err.find(replaced), std::string::npos) << r.err;
      EXPECT_NE(r.err.find(folder + "/" + refusal[kind + "/" + entry]), std::string::npos) << r.err;
      EXPECT_LT(r.err.size(), 400u) << r.err.substr(0, 400);
      tried++;
    }
  }
  EXPECT_EQ(tried, listed);
}
