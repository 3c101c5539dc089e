#include <sys/stat.h>

#include <string>

#include "tests/model/tempfolder.h"

using results = tempfolder;

static std::string opennumber(const std::string& folder) {
  FILE *tab, *coord;
  char tab_name[256], coord_name[256];
  if (!openresults(folder.c_str(), &tab, tab_name, &coord, coord_name)) return "failed";
  fclose(tab);
  fclose(coord);
  std::string name = tab_name;
  EXPECT_EQ(std::string(coord_name), name.substr(0, name.rfind('/')) + "/results_coord" +
                                         name.substr(name.rfind("results") + 7));
  return name.substr(name.rfind('/') + 1);
}

TEST_F(results, takesthefirstnumberfreeforbothfilesandtouchesnothingelse) {
  EXPECT_EQ(opennumber(dir), "results0.txt");
  EXPECT_TRUE(exists("results_coord0.txt"));
  EXPECT_EQ(opennumber(dir), "results1.txt");

  // A gap is filled, but not where a stray coordinate file of an older run stands.
  write("results3.txt", "old tab");
  write("results_coord2.txt", "old coordinates");
  write("results_coord5.txt", "");
  EXPECT_EQ(opennumber(dir), "results4.txt");
  EXPECT_EQ(opennumber(dir), "results6.txt");
  EXPECT_EQ(read("results3.txt"), "old tab");
  EXPECT_EQ(read("results_coord2.txt"), "old coordinates");
  EXPECT_FALSE(exists("results2.txt"));
}

TEST_F(results, afolderthatcannottakethefilesfailswithitsname) {
  write("plainfile", "");
  testing::internal::CaptureStderr();
  EXPECT_EQ(opennumber(file("plainfile")), "failed");
  std::string said = testing::internal::GetCapturedStderr();
  EXPECT_NE(said.find(file("plainfile") + "/results0.txt: Not a directory\n"), std::string::npos)
      << said;

  testing::internal::CaptureStderr();
  EXPECT_EQ(opennumber(dir + "/" + std::string(240, 'd')), "failed");
  said = testing::internal::GetCapturedStderr();
  EXPECT_NE(said.find("longer than 255"), std::string::npos) << said;

  // A data folder the map cannot write into: init says so and leaves no handle behind.
  snprintf(path, sizeof path, "%s/missing", dir.c_str());
  maphdl m;
  testing::internal::CaptureStderr();
  EXPECT_FALSE(m.init());
  EXPECT_NE(testing::internal::GetCapturedStderr().find("missing/results0.txt"), std::string::npos);
  EXPECT_EQ(m.results_file, nullptr);
  EXPECT_EQ(m.coord_file, nullptr);
}

TEST_F(results, flushputsthestartupwritesondiskandreportsalostfile) {
  maphdl m;
  ASSERT_TRUE(m.init());
  fputs("trial\n", m.results_file);
  EXPECT_TRUE(flushresults(m.results_file, m.results_name));
  EXPECT_EQ(read("results0.txt"), "trial\n");

  FILE* full = fopen("/dev/full", "w");
  ASSERT_NE(full, nullptr);
  fputs("x", full);
  testing::internal::CaptureStderr();
  EXPECT_FALSE(flushresults(full, "/dev/full"));
  EXPECT_NE(testing::internal::GetCapturedStderr().find("/dev/full: No space left on device"),
            std::string::npos);
  fclose(full);
}
