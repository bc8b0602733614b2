// quirlon-render used carelessly or with intent: special files as output and as templates, file
// size limits, signals in the middle of a save, absurd disc sizes, templates that need more memory
// than the machine should give, and option values that point nowhere. Every case runs the real
// executable; nothing may hang, crash, leave a temporary file or replace what is not a file.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "raster/Errors.h"
#include "tests/ScratchFolder.h"
#include "tests/cli/RunRender.h"

namespace quirlon::cli {
namespace {

namespace fs = std::filesystem;
using testing::ScratchFolder;

// Runs Script with /bin/sh inside Dir, "$R" naming quirlon-render; standard output and error of
// the whole script are captured. Scripts guard every run of "$R" with timeout, so a hang fails
// the test instead of stalling it.
TResult RunScript(const ScratchFolder& dir, const std::string& script) {
  const std::string out = dir.PathOf(".stdout"), err = dir.PathOf(".stderr");
  const std::string command = "cd " + Quote(dir.Folder()) + " && R=" + Quote(QUIRLON_RENDER) + " && { " + script +
                              "\n} >" + Quote(out) + " 2>" + Quote(err);
  const int raw = std::system(command.c_str());
  TResult r;
  r.Status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  r.Out = ReadText(out);
  r.Err = ReadText(err);
  fs::remove(out);
  fs::remove(err);
  return r;
}

// The names in Dir besides those the helpers use.
std::vector<std::string> Leftovers(const ScratchFolder& dir, const std::vector<std::string>& expected) {
  std::vector<std::string> extra;
  for (const std::string& name : dir.Entries())
    if (std::find(expected.begin(), expected.end(), name) == expected.end()) extra.push_back(name);
  return extra;
}

bool IsBmpOf(const std::vector<unsigned char>& bytes, std::uint32_t width, std::uint32_t height) {
  const std::size_t size = 54 + 4 * std::size_t(width) * height;
  return bytes.size() == size && bytes[0] == 'B' && bytes[1] == 'M' && bytes[18] == (width & 0xFF) &&
         bytes[19] == (width >> 8) && bytes[22] == (height & 0xFF) && bytes[23] == (height >> 8);
}

// A template with one red square, (100, 100)-(300, 300) in 400 x 400.
const std::string kRedSquare =
    "[Image]\nwidth=400\nheight=400\n[Layer1]\ntype=customcolor\nsource=clRed\n"
    "A.X=100\nA.Y=100\nB.X=300\nB.Y=100\nC.X=300\nC.Y=300\nD.X=100\nD.Y=300\n";

// ---- Item: saving to what is not a regular file --------------------------------------------

// The devices the output tests write to. Should the program ever replace special files again,
// the superuser's run would replace the system's own /dev/null: the superuser gets private nodes
// of the same devices in the scratch folder, and a private link in place of /dev/stdout. Anyone
// else uses the system's, which they cannot replace.
struct TDevices {
  std::string Null = "/dev/null";
  std::string Full = "/dev/full";
  std::string Stdout = "/dev/stdout";
  std::string Missing;  // why private devices could not be made
};

TDevices Devices(const ScratchFolder& dir) {
  TDevices d;
  if (::geteuid() != 0) return d;
  d.Null = dir.PathOf("null-device");
  d.Full = dir.PathOf("full-device");
  d.Stdout = dir.PathOf("stdout-link");
  for (const auto& [path, minor] : {std::pair{d.Null, 3u}, std::pair{d.Full, 7u}}) {
    if (::mknod(path.c_str(), S_IFCHR | 0666, makedev(1, minor)) != 0) d.Missing = "cannot make device nodes";
    const int fd = ::open(path.c_str(), O_WRONLY);
    if (fd < 0) d.Missing = "device nodes do not work in the temporary folder";
    else ::close(fd);
  }
  fs::create_symlink("/proc/self/fd/1", d.Stdout);
  return d;
}

TEST(HostileUseTest, SpecialFilesAreWrittenThroughNeverReplaced) {
  ScratchFolder dir;
  const TDevices dev = Devices(dir);
  if (!dev.Missing.empty()) GTEST_SKIP() << dev.Missing;
  const std::string small = "timeout 30 \"$R\" -t 1 --quiet --width 64 --height 48";
  struct TCase {
    std::string Name;
    std::string Script;  // may set up the target first
    int Status;
    std::string Err;
  };
  const std::vector<TCase> cases = {
      {"null device", small + " -o " + Quote(dev.Null), 0, ""},
      {"link to the null device", "ln -s " + Quote(dev.Null) + " null.png && " + small + " -o null.png", 0, ""},
      {"full device", small + " -o " + Quote(dev.Full), 1,
       "Cannot create file \"" + dev.Full + "\". No space left on device.\n"},
      {"FIFO without a reader", "mkfifo lonely.png && " + small + " -o lonely.png", 1,
       "Cannot create file \"lonely.png\". No program is reading from the FIFO.\n"},
      {"link loop", "ln -s loop-b.png loop-a.png && ln -s loop-a.png loop-b.png && " + small + " -o loop-a.png", 1,
       "Cannot create file \"loop-a.png\". Too many levels of symbolic links.\n"},
      {"folder", "mkdir folder.png && " + small + " -o folder.png", 1,
       "Cannot create file \"folder.png\". Is a directory.\n"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const TResult r = RunScript(dir, c.Script);
    EXPECT_EQ(r.Status, c.Status);
    EXPECT_EQ(r.Err, c.Err);
  }
  struct stat info {};
  for (const std::string& device : {dev.Null, dev.Full}) {
    ASSERT_EQ(::lstat(device.c_str(), &info), 0);
    EXPECT_TRUE(S_ISCHR(info.st_mode)) << device;
  }
  ASSERT_EQ(::lstat(dir.PathOf("null.png").c_str(), &info), 0);
  EXPECT_TRUE(S_ISLNK(info.st_mode));
  ASSERT_EQ(::lstat(dir.PathOf("lonely.png").c_str(), &info), 0);
  EXPECT_TRUE(S_ISFIFO(info.st_mode));
  EXPECT_TRUE(fs::is_empty(dir.PathOf("folder.png")));
  EXPECT_EQ(Leftovers(dir, {"null.png", "lonely.png", "loop-a.png", "loop-b.png", "folder.png", "null-device",
                            "full-device", "stdout-link"}),
            std::vector<std::string>{});
}

TEST(HostileUseTest, PipesAndFifosGetTheWholePicture) {
  ScratchFolder dir;
  const TDevices dev = Devices(dir);
  // Standard output on a pipe: the pipe gets the file (PNG: a FIFO without an extension, or BMP when
  // named), and the link to standard output stays a link.
  TResult r = RunScript(dir, "{ timeout 30 \"$R\" -t 1 --quiet --width 64 --height 48 -o " + Quote(dev.Stdout) +
                                 "; echo $? >status; } | cat >piped.png");
  EXPECT_EQ(r.Status, 0);
  EXPECT_EQ(r.Err, "");
  EXPECT_EQ(ReadText(dir.PathOf("status")), "0\n");
  const TRgbaPicture piped = DecodePng(dir.PathOf("piped.png"));
  EXPECT_EQ(piped.Width, 64u);
  EXPECT_EQ(piped.Height, 48u);
  r = RunScript(dir, "{ timeout 30 \"$R\" -t 1 --width 64 --height 48 --format bmp -o " + Quote(dev.Stdout) +
                         "; echo $? >status; } | cat >piped");
  EXPECT_EQ(ReadText(dir.PathOf("status")), "0\n");
  EXPECT_TRUE(IsBmpOf(ScratchFolder::ReadBytes(dir.PathOf("piped")), 64, 48));
  struct stat info {};
  ASSERT_EQ(::lstat(dev.Stdout.c_str(), &info), 0);
  EXPECT_TRUE(S_ISLNK(info.st_mode));

  // A FIFO with a reader, directly and through a link: a complete PNG comes out of it.
  for (const std::string target : {"fifo.png", "to-fifo.png"}) {
    SCOPED_TRACE(target);
    r = RunScript(dir, "[ -p fifo.png ] || mkfifo fifo.png; [ -L to-fifo.png ] || ln -s fifo.png to-fifo.png; "
                       "timeout 30 cat fifo.png >got.png & timeout 30 \"$R\" -t 1 --quiet --width 64 --height 48 -o " + target +
                       "; s=$?; wait; exit $s");
    EXPECT_EQ(r.Status, 0);
    EXPECT_EQ(r.Err, "");
    const TRgbaPicture p = DecodePng(dir.PathOf("got.png"));
    EXPECT_EQ(p.Width, 64u);
    EXPECT_EQ(p.Height, 48u);
    ASSERT_EQ(::lstat(dir.PathOf("fifo.png").c_str(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode));
  }
  // A reader that goes away makes the write fail with its reason, it does not kill the program.
  // (1 MiB of BMP in one write, far more than a pipe holds.)
  r = RunScript(dir, "{ timeout 30 \"$R\" -t 1 --width 512 --height 512 --format bmp -o " + Quote(dev.Stdout) +
                         "; echo $? >status; } | head -c 10 >/dev/null");
  EXPECT_EQ(ReadText(dir.PathOf("status")), "1\n");
  EXPECT_EQ(r.Err, "Cannot create file \"" + dev.Stdout + "\". Broken pipe.\n");
}

TEST(HostileUseTest, LinksLeadToTheFileTheyName) {
  ScratchFolder dir;
  fs::create_directories(dir.PathOf("sub"));
  // A dangling link, and a chain of links ending in nothing in another folder: the file named at
  // the end is created, every link stays.
  fs::create_symlink("made.png", dir.PathOf("dangling.png"));
  fs::create_symlink("sub/middle.png", dir.PathOf("chain.png"));
  fs::create_symlink("end.png", dir.PathOf("sub/middle.png"));
  for (const char* name : {"dangling.png", "chain.png"}) {
    SCOPED_TRACE(name);
    const TResult r = RunRender(dir, std::string("-t 1 --width 40 --height 32 -o ") + name);
    EXPECT_EQ(r.Status, 0) << r.Err;
    EXPECT_TRUE(fs::is_symlink(dir.PathOf(name)));
  }
  EXPECT_TRUE(fs::is_symlink(dir.PathOf("sub/middle.png")));
  EXPECT_EQ(DecodePng(dir.PathOf("made.png")).Width, 40u);
  EXPECT_EQ(DecodePng(dir.PathOf("sub/end.png")).Width, 40u);

  // A link to a regular file: the file is replaced as a whole (a new inode), the link stays.
  const std::string file = dir.Write("old.png", "old bytes");
  fs::create_symlink("old.png", dir.PathOf("to-old.png"));
  struct stat before {}, after {};
  ASSERT_EQ(::stat(file.c_str(), &before), 0);
  EXPECT_EQ(RunRender(dir, "-t 1 --width 40 --height 32 -o to-old.png").Status, 0);
  ASSERT_EQ(::stat(file.c_str(), &after), 0);
  EXPECT_NE(before.st_ino, after.st_ino);
  EXPECT_TRUE(fs::is_symlink(dir.PathOf("to-old.png")));
  EXPECT_EQ(DecodePng(file).Height, 32u);
  EXPECT_EQ(Leftovers(dir, {"sub", "dangling.png", "made.png", "chain.png", "old.png", "to-old.png"}),
            std::vector<std::string>{});
}

// ---- Item: a file size limit ---------------------------------------------------------------

TEST(HostileUseTest, FileSizeLimitFailsTheSaveInsteadOfKillingTheProgram) {
  ScratchFolder dir;
  const std::string old = dir.Write("keep.png", std::string(3000, 'x'));
  // No trap in the shell: the program itself must not die by SIGXFSZ (exit status 153).
  const TResult r = RunRender(dir, "-t 1 -o keep.png --width 400 --height 400", "ulimit -f 4;");
  EXPECT_EQ(r.Status, 1);
  EXPECT_EQ(r.Err, "Cannot create file \"keep.png\". File too large.\n");
  EXPECT_EQ(ReadText(old), std::string(3000, 'x'));
  EXPECT_EQ(dir.Entries(), std::vector<std::string>{"keep.png"});  // no temporary file
}

// ---- Item: signals during a save -------------------------------------------------------------

// Starts quirlon-render in Dir with the signals at their defaults (SIGHUP ignored when asked, as
// nohup starts a program), output and errors to /dev/null.
pid_t StartRender(const ScratchFolder& dir, const std::vector<std::string>& args, bool hangupIgnored = false) {
  std::vector<std::string> all{QUIRLON_RENDER};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  const std::string folder = dir.Folder();
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (::chdir(folder.c_str()) != 0) ::_exit(127);
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 1);
    ::dup2(null, 2);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    for (int s : {SIGINT, SIGTERM, SIGHUP}) ::signal(s, s == SIGHUP && hangupIgnored ? SIG_IGN : SIG_DFL);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  return pid;
}

bool HasTemporaryFile(const ScratchFolder& dir) {
  for (const std::string& name : dir.Entries())
    if (name.rfind(".quirlon-", 0) == 0) return true;
  return false;
}

// Waits until the save has made its temporary file; false when the process ended first.
bool WaitForTheSave(const ScratchFolder& dir, pid_t pid) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(100);
  while (std::chrono::steady_clock::now() < end) {
    if (HasTemporaryFile(dir)) return true;
    if (::waitpid(pid, nullptr, WNOHANG) == pid) return false;
    std::this_thread::sleep_for(std::chrono::microseconds(500));
  }
  return false;
}

class HostileSignalTest : public ::testing::TestWithParam<int> {};

// A 2048 x 2048 PNG takes a few hundred milliseconds to compress and write: the signal lands in
// the middle of the save, at a random moment of it, or anywhere in the run.
TEST_P(HostileSignalTest, SignalDuringASaveLeavesNoTemporaryFileAndKillsBySignal) {
  const int signal = GetParam();
  ScratchFolder dir;
  const std::string old(5000, 'o');
  const std::vector<std::string> args{"-t", "1", "--width", "2048", "--height", "2048", "-o", "keep.png"};
  std::mt19937 random(static_cast<unsigned>(signal) * 7919u);
  int interruptedSaves = 0;
  for (int run = 0; run < 8; ++run) {
    SCOPED_TRACE("run " + std::to_string(run));
    dir.Write("keep.png", old);
    const pid_t pid = StartRender(dir, args);
    ASSERT_GT(pid, 0);
    const bool duringSave = run < 5;
    if (duringSave) {
      ASSERT_TRUE(WaitForTheSave(dir, pid));
      std::this_thread::sleep_for(std::chrono::milliseconds(random() % 40));
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(random() % 900));
    }
    ::kill(pid, signal);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    if (WIFSIGNALED(status)) {
      EXPECT_EQ(WTERMSIG(status), signal);
      EXPECT_EQ(ReadText(dir.PathOf("keep.png")), old);
      interruptedSaves += duringSave;
    } else {
      // Finished before the signal came: the new picture is complete.
      EXPECT_FALSE(duringSave);
      EXPECT_EQ(WEXITSTATUS(status), 0);
      EXPECT_EQ(DecodePng(dir.PathOf("keep.png")).Width, 2048u);
    }
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"keep.png"});
  }
  EXPECT_EQ(interruptedSaves, 5);
}

INSTANTIATE_TEST_SUITE_P(Signals, HostileSignalTest, ::testing::Values(SIGINT, SIGTERM, SIGHUP),
                         [](const ::testing::TestParamInfo<int>& info) {
                           return std::string(info.param == SIGINT ? "Interrupt" : info.param == SIGTERM ? "Terminate" : "Hangup");
                         });

TEST(HostileUseTest, HangupIgnoredByTheParentStaysIgnored) {
  ScratchFolder dir;
  const pid_t pid = StartRender(dir, {"-t", "1", "--width", "2048", "--height", "2048", "-o", "kept.png"}, true);
  ASSERT_TRUE(WaitForTheSave(dir, pid));
  ::kill(pid, SIGHUP);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(DecodePng(dir.PathOf("kept.png")).Height, 2048u);
  EXPECT_EQ(dir.Entries(), std::vector<std::string>{"kept.png"});
}

// ---- Item: templates that are not readable templates ---------------------------------------

// Text as UTF-16 code units with a byte order mark, in the byte order asked for.
std::string Utf16WithMark(const std::u16string& text, bool bigEndian, bool mark = true) {
  std::string bytes;
  auto put = [&](char16_t unit) {
    const char high = static_cast<char>(unit >> 8), low = static_cast<char>(unit & 0xFF);
    bytes += bigEndian ? high : low;
    bytes += bigEndian ? low : high;
  };
  if (mark) put(u'\xFEFF');
  for (char16_t unit : text) put(unit);
  return bytes;
}

template <class TText>
TText Replaced(TText text, const TText& from, const TText& to) {
  for (std::size_t at = text.find(from); at != TText::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

TEST(HostileUseTest, TemplatesThatCannotBeReadAreRefusedByName) {
  ScratchFolder dir;
  // Each case is a template folder "cN" holding one entry t.ini.
  struct TCase {
    std::string Name;
    std::string Setup;  // shell commands run in cN
    std::string Reason;  // after "Cannot open file "cN/t.ini". "; empty: not a template file
  };
  const std::vector<TCase> cases = {
      {"FIFO", "mkfifo t.ini", "Not a regular file."},
      {"link to a FIFO", "mkfifo ../fifo && ln -s ../fifo t.ini", "Not a regular file."},
      {"endless device", "ln -s /dev/zero t.ini", "Not a regular file."},
      {"empty device", "ln -s /dev/null t.ini", "Not a regular file."},
      {"dangling link", "ln -s nowhere.ini t.ini", "No such file or directory."},
      {"binary garbage", "head -c 4096 /bin/sh >t.ini", ""},
      {"a picture", "cp \"" + std::string(QUIRLON_SOURCE_DIR) + "/data/Pics/01 Software box left.jpg\" t.ini", ""},
      {"empty file", ": >t.ini", ""},
      {"layers without [Image]", "printf '[Layer1]\\ntype=shadow\\n' >t.ini", ""},
      {"[Image] without any key", "printf '[Image]\\n[Layer1]\\n' >t.ini", ""},
      {"UTF-16 without a byte order mark", "printf '[\\000I\\000m\\000a\\000g\\000e\\000]\\000\\n\\000w\\000=\\0001\\000' >t.ini", ""},
  };
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const TCase& c = cases[i];
    SCOPED_TRACE(c.Name);
    const std::string folder = Format("c%zu", i);
    fs::create_directories(dir.PathOf(folder));
    const TResult r = RunScript(dir, "cd " + folder + " && " + c.Setup + " && cd .. && timeout 30 \"$R\" --templates " +
                                         folder + " -o out.png --width 64 --height 64");
    EXPECT_EQ(r.Status, 1);
    const std::string path = folder + "/t.ini";
    EXPECT_EQ(r.Err, c.Reason.empty() ? "Template \"" + path + "\" is not a template file.\n"
                                      : "Cannot open file \"" + path + "\". " + c.Reason + "\n");
  }
  EXPECT_FALSE(fs::exists(dir.PathOf("out.png")));
}

TEST(HostileUseTest, UnreadableTemplateFile) {
  if (::geteuid() == 0) GTEST_SKIP() << "permissions do not bind the superuser";
  ScratchFolder dir;
  fs::create_directories(dir.PathOf("tpl"));
  const std::string path = dir.Write("tpl/t.ini", kRedSquare);
  ASSERT_EQ(::chmod(path.c_str(), 0), 0);
  const TResult r = RunRender(dir, "--templates tpl -o out.png --width 64 --height 64");
  EXPECT_EQ(r.Status, 1);
  EXPECT_EQ(r.Err, "Cannot open file \"tpl/t.ini\". Permission denied.\n");
}

TEST(HostileUseTest, EveryEncodingAndLineEndOfATemplateRendersTheSame) {
  ScratchFolder dir;
  // A section name and a comment beyond ASCII, one of them outside the basic plane (a surrogate
  // pair in UTF-16); the compiler encodes both literals, independently of the program.
  const std::string utf8 = reinterpret_cast<const char*>(
      u8"; Gr\u00f6\u00dfe in \u20ac\n[Image]\nwidth=400\nheight=400\n[Layer \U0001D11E]\ntype=customcolor\nsource=clRed\n"
      u8"A.X=100\nA.Y=100\nB.X=300\nB.Y=100\nC.X=300\nC.Y=300\nD.X=100\nD.Y=300\n");
  const std::u16string utf16 =
      u"; Gr\u00f6\u00dfe in \u20ac\n[Image]\nwidth=400\nheight=400\n[Layer \U0001D11E]\ntype=customcolor\nsource=clRed\n"
      u"A.X=100\nA.Y=100\nB.X=300\nB.Y=100\nC.X=300\nC.Y=300\nD.X=100\nD.Y=300\n";
  const std::vector<std::pair<std::string, std::string>> variants = {
      {"utf8-lf", utf8},
      {"utf8-crlf", Replaced<std::string>(utf8, "\n", "\r\n")},
      {"utf8-cr", Replaced<std::string>(utf8, "\n", "\r")},
      {"utf8-mark-cr", "\xEF\xBB\xBF" + Replaced<std::string>(utf8, "\n", "\r")},
      {"utf16le", Utf16WithMark(utf16, false)},
      {"utf16be", Utf16WithMark(utf16, true)},
      {"utf16le-crlf", Utf16WithMark(Replaced<std::u16string>(utf16, u"\n", u"\r\n"), false)},
      {"utf16be-cr", Utf16WithMark(Replaced<std::u16string>(utf16, u"\n", u"\r"), true)},
  };
  TRgbaPicture reference;
  for (const auto& [name, bytes] : variants) {
    SCOPED_TRACE(name);
    fs::create_directories(dir.PathOf(name));
    dir.Write(name + "/t.ini", bytes);
    const TResult r = RunRender(dir, "--templates " + name + " -o " + name + ".png --width 100 --height 100 --transparent --sampling exact");
    ASSERT_EQ(r.Status, 0) << r.Err;
    const TRgbaPicture p = DecodePng(dir.PathOf(name + ".png"));
    if (reference.Rgba.empty()) {
      reference = p;
      // The square is there (weight 254 over transparent black), and nothing outside it.
      ASSERT_EQ(p.Width, 100u);
      EXPECT_EQ(p.At(50, 50)[0], 254);
      EXPECT_EQ(p.At(50, 50)[3], 254);
      EXPECT_EQ(p.At(10, 10)[3], 0);
    }
    EXPECT_EQ(p.Rgba, reference.Rgba);
  }
}

// ---- Item: disc artwork too large to draw ----------------------------------------------------

TEST(HostileUseTest, DiscsTooLargeToDrawAreRefusedBeforeDrawing) {
  ScratchFolder dir;
  struct TCase {
    const char* Type;
    int Width, Height;  // of the artwork: the layer's corners in a template as large as the canvas
    bool Large;
  };
  // 2^23 pixels is where the drawing's 24.8 fixed-point coordinates end.
  const TCase cases[] = {
      {"disc", 9000000, 2, false},          {"discreflection", 9000000, 2, false},
      {"disc", 8388608, 2, true},           {"disc", 2, 8388608, false},
      {"discreflection", 2147483647, 1, false}, {"disc", 8388607, 2, false},
      {"discreflection", 8388607, 2, true},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(std::string(c.Type) + " " + std::to_string(c.Width) + " x " + std::to_string(c.Height));
    fs::remove_all(dir.PathOf("tpl"));
    fs::create_directories(dir.PathOf("tpl"));
    dir.Write("tpl/t.ini", Format("[Image]\nwidth=400\nheight=400\n[Layer1]\ntype=%s\nsource=disc\nA.X=0\nA.Y=0\n"
                                  "B.X=%d\nB.Y=0\nC.X=%d\nC.Y=%d\nD.X=0\nD.Y=%d\n",
                                  c.Type, c.Width, c.Width, c.Height, c.Height));
    const TResult r = RunRender(dir, std::string("--templates tpl -o out.png --width 400 --height 400") +
                                         (c.Large ? " --large-disc" : ""));
    if (c.Width <= 8388607 && c.Height <= 8388607) {
      EXPECT_EQ(r.Status, 0) << r.Err;
    } else {
      EXPECT_EQ(r.Status, 1);
      EXPECT_EQ(r.Err, Format("Disc artwork of %d x %d pixels is too large to draw (at most 8388607 a side)\n",
                              c.Width, c.Height));
    }
  }
}

// ---- Item: the memory budget -----------------------------------------------------------------

// N layer sections in a 2048 x 2048 template: full-canvas shadows, or bare sections (a layer
// each all the same) to keep the file small.
std::string FullCanvasLayers(long long n, bool bare = false) {
  std::string t = "[Image]\nwidth=2048\nheight=2048\n";
  for (long long i = 0; i < n; ++i)
    t += "[Layer" + std::to_string(i) + "]\n" +
         (bare ? "" : "type=shadow\nA.X=0\nA.Y=0\nB.X=2048\nB.Y=0\nC.X=2048\nC.Y=2048\nD.X=0\nD.Y=2048\n");
  return t;
}

long long PhysicalMemory() {
  std::ifstream meminfo("/proc/meminfo");
  std::string key;
  long long kib = 0;
  while (meminfo >> key && key != "MemTotal:") meminfo.ignore(1 << 20, '\n');
  meminfo >> kib;
  return kib * 1024;
}

TEST(HostileUseTest, TemplatesNeedingTooMuchMemoryAreRefusedWithWhatTheyNeed) {
  ScratchFolder dir;
  fs::create_directories(dir.PathOf("tpl"));
  dir.Write("tpl/t.ini", FullCanvasLayers(250));
  // 16 MiB a layer at 2048 x 2048; 250 layers, the canvas and the work of two layers at once
  // (3 each): 257 x 16 MiB = 4112 MiB = 4.02 GiB, shown as 4.1.
  const auto start = std::chrono::steady_clock::now();
  TResult r = RunRender(dir, "--templates tpl -o out.png --width 2048 --height 2048 --memory-limit 1G");
  EXPECT_EQ(r.Status, 1);
  EXPECT_EQ(r.Err, "Template \"tpl/t.ini\" needs 4.1 GiB of memory at 2048 x 2048 pixels (250 layers), more than the "
                   "1.0 GiB a render may take.\n");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));  // refused, not tried
  // The same limit in other words, and one that leaves room: the option lowers the budget.
  EXPECT_EQ(RunRender(dir, "--templates tpl -o out.png --width 2048 --height 2048 --memory-limit 1048576K").Err, r.Err);
  r = RunRender(dir, "-t 1 -o small.png --width 64 --height 48 --memory-limit 1M");
  EXPECT_EQ(r.Status, 0) << r.Err;
  r = RunRender(dir, "-t 1 -o big.png --width 2048 --height 2048 --memory-limit 100M");
  EXPECT_EQ(r.Status, 1);
  EXPECT_NE(r.Err.find("more than the 100.0 MiB a render may take."), std::string::npos) << r.Err;
  EXPECT_EQ(Leftovers(dir, {"tpl", "small.png"}), std::vector<std::string>{});

  // Without the option the budget is at most half the machine's memory: a template needing more
  // is refused at once, and asking for more than the machine gives does not help.
  const long long layers = PhysicalMemory() / 2 / (16LL << 20) + 1;
  dir.Write("tpl/t.ini", FullCanvasLayers(layers, true));
  for (const char* limit : {"", " --memory-limit 1000000T"}) {
    SCOPED_TRACE(limit);
    r = RunRender(dir, std::string("--templates tpl -o out.png --width 2048 --height 2048") + limit);
    EXPECT_EQ(r.Status, 1);
    EXPECT_NE(r.Err.find(" at 2048 x 2048 pixels (" + std::to_string(layers) + " layers), more than the "),
              std::string::npos)
        << r.Err;
    EXPECT_EQ(r.Err.find("TiB a render"), std::string::npos) << r.Err;
  }
  EXPECT_FALSE(fs::exists(dir.PathOf("out.png")));
}

// ---- Item: usage errors that say what is wrong -----------------------------------------------

TEST(HostileUseTest, TemplateNumbersAndFoldersThatLeadNowhereAreUsageErrors) {
  ScratchFolder dir;
  // The bundled templates, counted here from the repository.
  std::size_t bundled = 0;
  for (const auto& e : fs::directory_iterator(std::string(QUIRLON_SOURCE_DIR) + "/data/Templates"))
    bundled += e.is_regular_file();
  const std::string folder = fs::canonical(QUIRLON_RENDER).parent_path().string() + "/Templates/";
  const std::string holds = "the folder \"" + folder + "\" holds " + std::to_string(bundled) + " templates";
  fs::create_directories(dir.PathOf("empty"));
  fs::create_directories(dir.PathOf("one/sub"));
  dir.Write("one/t.ini", kRedSquare);
  dir.Write("notes.txt", "text");
  struct TCase {
    std::string Args;
    std::string Err;  // after "quirlon-render: "
  };
  const std::vector<TCase> cases = {
      {"-t " + std::to_string(bundled + 1), "there is no template " + std::to_string(bundled + 1) + ": " + holds + ", numbered from 1 (see --list)"},
      {"-t 0", "there is no template 0: " + holds + ", numbered from 1 (see --list)"},
      {"-t 99999999999999999999", "there is no template 99999999999999999999: " + holds + ", numbered from 1 (see --list)"},
      {"--templates one -t 2", "there is no template 2: the folder \"one\" holds 1 template, numbered from 1 (see --list)"},
      {"--templates empty", "template folder \"empty\" holds no templates"},
      {"--templates empty --list", "template folder \"empty\" holds no templates"},
      {"--templates missing", "template folder \"missing\" does not exist"},
      {"--templates /missing/ --list", "template folder \"/missing/\" does not exist"},
      {"--templates notes.txt", "template folder \"notes.txt\" is not a folder"},
      {"--memory-limit 0", "--memory-limit takes a size in bytes, or with K, M, G or T (1024-based) such as 512M or 2G, not '0'"},
      {"--sampling fuzzy", "--sampling takes smooth or exact, not 'fuzzy'"},
      {"--sampling Exact", "--sampling takes smooth or exact, not 'Exact'"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Args);
    const TResult r = RunRender(dir, c.Args + " -o out.png --width 64 --height 64");
    EXPECT_EQ(r.Status, 2);
    EXPECT_EQ(r.Err, "quirlon-render: " + c.Err + "\n");
    EXPECT_EQ(r.Out, "");
  }
  EXPECT_FALSE(fs::exists(dir.PathOf("out.png")));
  // The last template and the one-template folder still render.
  EXPECT_EQ(RunRender(dir, "-t " + std::to_string(bundled) + " -o out.png --width 64 --height 64").Status, 0);
  EXPECT_EQ(RunRender(dir, "--templates one -t 001 -o out.png --width 64 --height 64").Status, 0);

  // A copy of the program without its data beside it: the installation is broken, not the call.
  fs::create_directories(dir.PathOf("bare"));
  fs::copy_file(QUIRLON_RENDER, dir.PathOf("bare/quirlon-render"));
  const TResult r = RunScript(dir, "./bare/quirlon-render --list");
  EXPECT_EQ(r.Status, 1);
  EXPECT_EQ(r.Err, "Template folder \"" + fs::canonical(dir.PathOf("bare")).string() + "/Templates/\" does not exist.\n");
}

}  // namespace
}  // namespace quirlon::cli
