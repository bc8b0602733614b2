// quirlon-render --batch through the real executable: a catalogue of rows over several
// templates, sizes and formats, resumed, sharded, and refused row by row when it is wrong.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstdint>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "tests/ScratchFolder.h"
#include "tests/cli/RunRender.h"

namespace quirlon::cli {
namespace {

using testing::ScratchFolder;
namespace fs = std::filesystem;

const std::string kExamples = std::string(QUIRLON_SOURCE_DIR) + "/examples/";

struct TCatalogueRow {
  std::string Template, Front, Output;
  int Width = 0, Height = 0;
};

// 30 rows: templates 1, 2, 5 and 8 in turn, five sizes, PNG, JPEG and BMP; row 17 (index 16)
// names a picture that is not there.
std::vector<TCatalogueRow> Catalogue() {
  const char* templates[] = {"1", "2", "5", "8"};
  const char* fronts[] = {"art/box-front.jpg", "art/book-front.jpg", "art/cd-front.jpg"};
  const int widths[] = {96, 120, 160, 64, 200};
  const int heights[] = {72, 90, 100, 64, 150};
  const char* formats[] = {"png", "jpg", "bmp"};
  std::vector<TCatalogueRow> rows;
  for (int i = 0; i < 30; ++i) {
    TCatalogueRow row;
    row.Template = templates[i % 4];
    row.Front = i == 16 ? "art/missing.jpg" : fronts[i % 3];
    row.Width = widths[i % 5];
    row.Height = heights[i % 5];
    row.Output = "out/shot" + std::to_string(i) + "." + formats[(i / 3) % 3];
    rows.push_back(row);
  }
  return rows;
}

void WriteCatalogue(const ScratchFolder& dir) {
  fs::create_directories(dir.PathOf("art"));
  fs::create_directories(dir.PathOf("out"));
  for (const char* name : {"box-front.jpg", "book-front.jpg", "cd-front.jpg", "box-side.jpg"})
    fs::copy_file(kExamples + name, dir.PathOf(std::string("art/") + name));
  std::string csv = "template,front,side,width,height,output\n";
  for (const TCatalogueRow& r : Catalogue())
    csv += r.Template + "," + r.Front + ",art/box-side.jpg," + std::to_string(r.Width) + "," +
           std::to_string(r.Height) + "," + r.Output + "\n";
  dir.Write("catalogue.csv", csv);
}

// The picture's size as its own header says, read without our loaders: PNG IHDR, BMP's info
// header, JPEG's start-of-frame; 0 x 0 when the file is not a complete picture of its kind.
std::pair<int, int> PictureSize(const std::string& path) {
  const std::vector<unsigned char> b = ScratchFolder::ReadBytes(path);
  auto be16 = [&](std::size_t at) { return b[at] << 8 | b[at + 1]; };
  auto le32 = [&](std::size_t at) { return int(b[at] | b[at + 1] << 8 | b[at + 2] << 16 | unsigned(b[at + 3]) << 24); };
  const std::string ext = fs::path(path).extension().string();
  if (ext == ".png") {
    const TRgbaPicture p = DecodePng(path);
    return {int(p.Width), int(p.Height)};
  }
  if (ext == ".bmp") {
    if (b.size() < 54 || b[0] != 'B' || b[1] != 'M' || std::size_t(le32(2)) != b.size()) return {0, 0};
    return {le32(18), std::abs(le32(22))};
  }
  // JPEG: SOI, segments up to a start-of-frame, and EOI at the end.
  if (b.size() < 4 || be16(0) != 0xFFD8 || be16(b.size() - 2) != 0xFFD9) return {0, 0};
  for (std::size_t at = 2; at + 9 < b.size();) {
    if (b[at] != 0xFF) return {0, 0};
    const int marker = b[at + 1];
    if (marker >= 0xC0 && marker <= 0xC3) return {be16(at + 7), be16(at + 5)};
    at += 2 + be16(at + 2);
  }
  return {0, 0};
}

std::int64_t ModifiedNs(const std::string& path) {
  return fs::last_write_time(path).time_since_epoch().count();
}

TEST(BatchCliTest, ThirtyRowsOneMissingPictureThenResumed) {
  ScratchFolder dir;
  WriteCatalogue(dir);
  const TResult r = RunRender(dir, "--batch catalogue.csv --jobs 2");
  EXPECT_EQ(r.Status, 1);
  EXPECT_EQ(r.Out, "");
  // One line for the failed row, naming its output and the picture; then the summary.
  EXPECT_NE(r.Err.find("row 17 (out/shot16.bmp): "), std::string::npos) << r.Err;
  EXPECT_NE(r.Err.find("missing.jpg"), std::string::npos) << r.Err;
  EXPECT_NE(r.Err.find("30 jobs: 29 written, 0 skipped, 1 failed"), std::string::npos) << r.Err;
  EXPECT_EQ(std::count(r.Err.begin(), r.Err.end(), '\n'), 2) << r.Err;

  std::map<std::string, std::int64_t> written;
  for (const TCatalogueRow& row : Catalogue()) {
    const std::string path = dir.PathOf(row.Output);
    if (row.Front == "art/missing.jpg") {
      EXPECT_FALSE(fs::exists(path));
      continue;
    }
    ASSERT_TRUE(fs::exists(path)) << row.Output;
    EXPECT_EQ(PictureSize(path), std::make_pair(row.Width, row.Height)) << row.Output;
    written[path] = ModifiedNs(path);
  }
  EXPECT_EQ(written.size(), 29u);
  EXPECT_EQ(fs::directory_iterator(dir.PathOf("out")) == fs::directory_iterator(), false);
  std::size_t files = 0;
  for (const auto& e : fs::directory_iterator(dir.PathOf("out"))) files += e.is_regular_file();
  EXPECT_EQ(files, 29u);  // no temporary files left behind

  const TResult again = RunRender(dir, "--batch catalogue.csv --skip-existing");
  EXPECT_EQ(again.Status, 1);
  EXPECT_NE(again.Err.find("30 jobs: 0 written, 29 skipped, 1 failed"), std::string::npos) << again.Err;
  for (const auto& [path, at] : written) EXPECT_EQ(ModifiedNs(path), at) << path;

  // A picture changed after its outputs: the rows that read it run again, the others stay.
  fs::last_write_time(dir.PathOf("art/cd-front.jpg"), fs::file_time_type::clock::now() + std::chrono::hours(1));
  const TResult third = RunRender(dir, "--batch catalogue.csv --skip-existing");
  // Rows i % 3 == 2 use the CD front: 10 rows.
  EXPECT_NE(third.Err.find("30 jobs: 10 written, 19 skipped, 1 failed"), std::string::npos) << third.Err;
}

// Every row its own cover (a 570 x 705 picture under its own name, 1.6 MB decoded): ten times the
// rows must not take more memory, though the picture cache alone could hold 160 of them.
TEST(BatchCliTest, PeakMemoryDoesNotGrowWithTheRows) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the sanitizers hold freed memory back: peaks grow with the work done";
#endif
  ScratchFolder dir;
  fs::create_directories(dir.PathOf("art"));
  fs::create_directories(dir.PathOf("out"));
  std::map<int, long> peak;
  for (const int rows : {20, 200}) {
    std::string csv = "front,output\n";
    for (int i = 0; i < rows; ++i) {
      const std::string cover = "art/cover" + std::to_string(i) + ".jpg";
      if (!fs::exists(dir.PathOf(cover))) fs::copy_file(kExamples + "box-front.jpg", dir.PathOf(cover));
      csv += cover + ",out/shot" + std::to_string(i) + ".png\n";
    }
    dir.Write("rows.csv", csv);
    const TMeasuredRun run = RunRenderMeasured(dir, "--batch rows.csv --jobs 2 -t 1 --width 160 --height 120");
    ASSERT_EQ(run.Result.Status, 0) << run.Result.Err;
    ASSERT_TRUE(fs::exists(dir.PathOf("out/shot" + std::to_string(rows - 1) + ".png")));
    peak[rows] = run.PeakKilobytes;
  }
  // 200 more covers held would be 320 MB; a job's own memory at this size is about 1 MB.
  EXPECT_LE(peak[200], peak[20] + peak[20] / 4) << "20 rows: " << peak[20] << " KiB, 200 rows: " << peak[200] << " KiB";
}

TEST(BatchCliTest, ThreeShardsWriteEveryOutputOnce) {
  ScratchFolder dir;
  WriteCatalogue(dir);
  const std::vector<TCatalogueRow> rows = Catalogue();
  std::set<std::string> seen;
  for (int k = 1; k <= 3; ++k) {
    const TResult r = RunRender(dir, "--batch catalogue.csv --jobs 2 --shard " + std::to_string(k) + "/3");
    // The missing picture is row index 16, 16 mod 3 = 1: shard 2 only.
    EXPECT_EQ(r.Status, k == 2 ? 1 : 0) << r.Err;
    std::set<std::string> shard;
    for (const auto& e : fs::directory_iterator(dir.PathOf("out"))) shard.insert(e.path().filename().string());
    std::set<std::string> expected;
    for (std::size_t i = 0; i < rows.size(); ++i)
      if (int(i % 3) == k - 1 && i != 16) expected.insert(fs::path(rows[i].Output).filename().string());
    EXPECT_EQ(shard, expected) << "shard " << k;
    for (const std::string& name : shard) {
      EXPECT_TRUE(seen.insert(name).second) << name << " written twice";
      fs::remove(dir.PathOf("out/" + name));
    }
  }
  EXPECT_EQ(seen.size(), 29u);
}

// Options on the command line under every row, a row's own value over them; paths relative to
// the batch file's folder; quoted CSV fields; JSON Lines from standard input.
TEST(BatchCliTest, CommandLineUnderRowsPathsBesideTheFile) {
  ScratchFolder dir;
  fs::create_directories(dir.PathOf("jobs/art"));
  fs::copy_file(kExamples + std::string("box-front.jpg"), dir.PathOf("jobs/art/front, \"big\".jpg"));
  dir.Write("jobs/list.csv",
            "output,front,height\n"
            "\"a, first.png\",\"art/front, \"\"big\"\".jpg\",\n"
            "b.png,#FF0000,90\n");
  const TResult r = RunRender(dir, "--batch jobs/list.csv --width 100 --height 50 --source top=#00FF00");
  ASSERT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(r.Err, "");
  EXPECT_EQ(PictureSize(dir.PathOf("jobs/a, first.png")), std::make_pair(100, 50));
  EXPECT_EQ(PictureSize(dir.PathOf("jobs/b.png")), std::make_pair(100, 90));

  dir.Write("list.jsonl",
            "{\"output\": \"c.png\", \"height\": 40, \"transparent\": true, \"front\": null}\n"
            "\n"
            "{\"output\": \"d\\u002ebmp\", \"width\": \"64\", \"flip\": false}\n");
  const TResult json = RunRender(dir, "--batch - --width 80 < list.jsonl");
  ASSERT_EQ(json.Status, 0) << json.Err;
  EXPECT_EQ(PictureSize(dir.PathOf("c.png")), std::make_pair(80, 40));
  EXPECT_EQ(DecodePng(dir.PathOf("c.png")).At(0, 0)[3], 0);  // transparent
  EXPECT_EQ(PictureSize(dir.PathOf("d.bmp")), std::make_pair(64, 48));  // 64 x 600 / 800
}

// On a terminal (script(1) gives it one) a progress bar counts the jobs and a summary ends the
// run; on a file or pipe, as every other test here runs, a good run prints nothing at all.
TEST(BatchCliTest, ProgressOnlyOnATerminal) {
  if (std::system("command -v script >/dev/null 2>&1") != 0) GTEST_SKIP() << "no script(1)";
  ScratchFolder dir;
  dir.Write("b.csv", "output,width\na.bmp,40\nb.bmp,40\nc.bmp,40\n");
  const TResult r = RunRender(dir, "x", "script -qec " + Quote(Quote(QUIRLON_RENDER) + " --batch b.csv --jobs 1") +
                                         " /dev/null >tty.txt; exit $?; ");
  EXPECT_EQ(r.Status, 0) << r.Err;
  const std::string tty = ReadText(dir.PathOf("tty.txt"));
  EXPECT_NE(tty.find("] 1/3 "), std::string::npos) << tty;
  EXPECT_NE(tty.find("] 3/3 "), std::string::npos) << tty;
  EXPECT_NE(tty.find("3 jobs: 3 written, 0 skipped, 0 failed"), std::string::npos) << tty;
}

struct TBadBatch {
  const char* Name;
  const char* File;
  const char* Text;
  std::vector<std::string> Errors;  // each must be in standard error
  std::vector<std::string> Good;    // outputs of good rows, written without --strict
};

TEST(BatchCliTest, BadRowsNamedByRowAndColumn) {
  const std::vector<TBadBatch> cases = {
      {"unknown column", "b.csv", "output,colour\ngood.png,\n",
       {"row 1, column colour: colour is not a known key"}, {}},
      {"malformed CSV line", "b.csv", "output,width\ngood.png,64\nbad\"quote.png,64\nalso.png,64,65\n",
       {"row 2, column output: malformed line: a quote inside an unquoted field",
        "row 3, column 3: malformed line: 3 fields where the header has 2"},
       {"good.png"}},
      {"open quote", "b.csv", "output,width\ngood.png,64\n\"never closed.png,64\n",
       {"row 2, column output: malformed line: a quoted field is not closed"}, {"good.png"}},
      {"duplicate output", "b.csv", "output,width\nsame.png,64\ngood.png,64\n./same.png,70\n",
       {"row 3, column output: './same.png' is also the output of row 1",
        "row 1, column output: 'same.png' is also the output of row 3"},
       {"good.png"}},
      {"bad cell value", "b.csv", "output,width,shadow-color\ngood.png,64,\nbad.png,wide,\nworse.png,64,nocolour\n",
       {"row 2, column width: width takes a whole number from 32 to 8192, not 'wide'",
        "row 3, column shadow-color: shadow-color: "},
       {"good.png"}},
      {"unknown template", "b.csv", "output,template\ngood.png,1\nbad.png,99\n",
       {"row 2, column template: there is no template 99"}, {"good.png"}},
      {"malformed JSON line", "b.jsonl",
       "{\"output\": \"good.png\"}\n{\"output\": \"bad.png\",}\n{\"output\": {\"nested\": 1}}\n{\"output\": \"x.png\", "
       "\"output\": \"y.png\"}\n",
       {"row 2, column 22: malformed line: a key in double quotes expected",
        "row 3, column 12: malformed line: only strings, numbers",
        "row 4, column 21: malformed line: the key 'output' is given twice"},
       {"good.png"}},
  };
  for (const TBadBatch& c : cases) {
    for (const bool strict : {true, false}) {
      ScratchFolder dir;
      dir.Write(c.File, c.Text);
      const TResult r = RunRender(dir, std::string("--batch ") + c.File + " --width 64" + (strict ? " --strict" : ""));
      EXPECT_EQ(r.Status, 1) << c.Name;
      for (const std::string& error : c.Errors) EXPECT_NE(r.Err.find(error), std::string::npos) << c.Name << "\n" << r.Err;
      std::size_t pictures = 0;
      for (const std::string& name : dir.Entries()) pictures += name != c.File;
      if (strict) {
        EXPECT_EQ(pictures, 0u) << c.Name << ": --strict renders nothing";
        EXPECT_NE(r.Err.find("nothing was rendered (--strict)"), std::string::npos) << c.Name;
      } else {
        EXPECT_EQ(pictures, c.Good.size()) << c.Name;
        for (const std::string& good : c.Good) EXPECT_TRUE(fs::exists(dir.PathOf(good))) << c.Name << " " << good;
      }
    }
  }
}

TEST(BatchCliTest, UsageErrorsOfTheBatchOptions) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"--batch b.csv -o x.png", "-o cannot be given with --batch"},
      {"--batch b.csv --shard 4/3", "--shard takes K/N with 1 <= K <= N, such as 2/8, not '4/3'"},
      {"--batch b.csv --shard 0/3", "not '0/3'"},
      {"--batch b.csv --shard 3", "not '3'"},
      {"--batch b.csv --jobs 0", "--jobs takes a whole number from 1 to 256, not '0'"},
      {"-o x.png --shard 1/2", "--jobs, --shard, --skip-existing and --strict go with --batch FILE"},
  };
  for (const auto& [args, message] : cases) {
    ScratchFolder dir;
    dir.Write("b.csv", "output\nx.png\n");
    const TResult r = RunRender(dir, args);
    EXPECT_EQ(r.Status, 2) << args;
    EXPECT_NE(r.Err.find(message), std::string::npos) << args << "\n" << r.Err;
  }
  ScratchFolder dir;
  const TResult missing = RunRender(dir, "--batch nowhere.csv");
  EXPECT_EQ(missing.Status, 1);
  EXPECT_NE(missing.Err.find("nowhere.csv"), std::string::npos) << missing.Err;
}

// Jobs share the layers whose inputs agree (the same template, size, settings and slot picture):
// every output must still be byte for byte what a run of its own writes. Rows mix two templates, two
// covers, a colour front, a changed setting and a second size, so that some layers are shared and
// others must not be.
TEST(BatchCliTest, SharedLayersGiveWhatSeparateRunsGive) {
  ScratchFolder dir;
  WriteCatalogue(dir);
  const std::vector<std::string> rows = {
      "1,art/box-front.jpg,,120,90,a.png",  "1,art/book-front.jpg,,120,90,b.png",
      "2,art/box-front.jpg,,120,90,c.png",  "1,art/box-front.jpg,60,120,90,d.png",
      "1,#C03020,,120,90,e.png",            "1,art/book-front.jpg,,160,100,f.png",
      "1,art/box-front.jpg,,120,90,g.bmp",  "2,art/cd-front.jpg,60,120,90,h.png",
  };
  std::string csv = "template,front,shadow-density,width,height,output\n";
  for (const std::string& row : rows) csv += row + "\n";
  dir.Write("shared.csv", csv);
  const TResult batch = RunRender(dir, "--batch shared.csv --jobs 2 --source side=art/box-side.jpg --quiet");
  ASSERT_EQ(batch.Status, 0) << batch.Err;
  for (const std::string& row : rows) {
    std::vector<std::string> cell;
    for (std::size_t at = 0;;) {
      const std::size_t comma = row.find(',', at);
      cell.push_back(row.substr(at, comma - at));
      if (comma == std::string::npos) break;
      at = comma + 1;
    }
    const std::string alone = "alone-" + cell[5];
    const TResult r = RunRender(dir, "-t " + cell[0] + " --source front=" + Quote(cell[1]) +
                                         " --source side=art/box-side.jpg --quiet --width " + cell[3] + " --height " +
                                         cell[4] + (cell[2].empty() ? "" : " --shadow-density " + cell[2]) + " -o " +
                                         alone);
    ASSERT_EQ(r.Status, 0) << row << "\n" << r.Err;
    EXPECT_TRUE(ScratchFolder::ReadBytes(dir.PathOf(cell[5])) == ScratchFolder::ReadBytes(dir.PathOf(alone))) << row;
  }
}

}  // namespace
}  // namespace quirlon::cli
