// Runs the demo host into a scratch folder and checks what it left there:
// every file loads, with the length and the frames the demo's steps give.
#include <covarne/Covarne2005.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "KitTestSupport.h"

namespace {

using kittest::Wide;

std::vector<short> Frames(Covarne2005& wav, const std::string& path, int start, int count) {
  std::vector<short> left(count), right(count);
  EXPECT_EQ(wav.Load(Wide(path).c_str(), start, count, left.data(), right.data()), count * 4)
      << path;
  std::vector<short> both(left);
  both.insert(both.end(), right.begin(), right.end());
  return both;
}

TEST(Demo, WritesTheFilesItReports) {
  kittest::TempDir dir;
  ASSERT_TRUE(dir.ok());
  std::string out;
  ASSERT_TRUE(kittest::RunShell(kittest::Quote(DEMO_EXE) + " " + kittest::Quote(dir.path()), &out))
      << out;

  // Frames [at, at + len) of the file are frames [from, from + len) of the
  // tone, or silence when from is -1.
  struct Expect {
    const char* file;
    int frames, at, from, len;
  };
  const Expect cases[] = {
      {"tone.wav", 32000, 0, 0, 32000},      {"append.wav", 40000, 0, 0, 32000},
      {"insert.wav", 36000, 16000, -1, 4000}, {"insert.wav", 36000, 20000, 16000, 16000},
      {"delete.wav", 24000, 8000, 16000, 16000}, {"replace.wav", 24000, 0, 0, 16000},
  };
  Covarne2005 wav;
  const std::string tone = dir.File("tone.wav");
  for (const Expect& c : cases) {
    SCOPED_TRACE(c.file);
    const std::string path = dir.File(c.file);
    EXPECT_NE(out.find(path), std::string::npos) << "the demo's report names " << path;
    const std::wstring w = Wide(path);
    EXPECT_EQ(wav.GetN(w.c_str()), c.frames);
    EXPECT_EQ(wav.GetSr(w.c_str()), 16000);
    EXPECT_EQ(wav.GetCh(w.c_str()), 2);
    Frames(wav, path, 0, c.frames);
    const std::vector<short> got = Frames(wav, path, c.at, c.len);
    const std::vector<short> want = c.from < 0 ? std::vector<short>(2 * c.len, 0)
                                               : Frames(wav, tone, c.from, c.len);
    EXPECT_TRUE(got == want);
  }
}

// The demo decodes its folder argument as UTF-8 whatever the locale, and the
// library encodes wide paths back into UTF-8: the names survive the trip.
TEST(Demo, WritesIntoAFolderNamedOutsideAscii) {
  kittest::TempDir dir;
  ASSERT_TRUE(dir.ok());
  const std::string folder = dir.File("d\xc3\xa9mo-\xe2\x82\xac");  // "démo-€"
  std::string out;
  ASSERT_TRUE(kittest::RunShell("LC_ALL=C " + kittest::Quote(DEMO_EXE) + " " + kittest::Quote(folder), &out))
      << out;
  for (const char* name : {"tone.wav", "append.wav", "insert.wav", "delete.wav", "replace.wav"})
    EXPECT_TRUE(std::filesystem::is_regular_file(folder + "/" + name)) << name;
}

}  // namespace
