// Folders prepared by someone else, and a run that is interrupted: no file of anybody's is
// overwritten or leaked, nothing hangs, no name forges a console line.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include "encoders.hpp"
#include "io/report.hpp"
#include "support/expected.hpp"
#include "support/run.hpp"
#include "support/table.hpp"

namespace texport::testing {
namespace {

const Bytes kOneFrame = samples::sfd_container({{1, 1, {4}}});

class Hostile : public ::testing::Test {
 protected:
  TempFolder folder;
  // Root can hand a link to another user; nobody else can.
  static bool give_away(const fs::path& link) { return ::lchown(link.c_str(), 12345, 12345) == 0; }
};

// A link is followed only when it is the runner's own: not even the folder's owner may lead the
// runner to a file of the runner's (a secret of theirs would land in an image anyone may read).
TEST_F(Hostile, LinksOfAnotherUserAreNotFollowed) {
  SKIP_UNLESS_LINUX_TOOL();
  write_file(folder / "secret", Bytes(2000, 0x5E));
  write_file(folder / "real.bin", kOneFrame);
  fs::create_symlink("real.bin", folder / "mine.sfd");
  fs::create_symlink("secret", folder / "theirs.sfd");
  fs::create_symlink("secret", folder / "HEADER.TIF");
  if (!give_away(folder / "theirs.sfd") || !give_away(folder / "HEADER.TIF") ||
      !give_away(folder.path()))
    GTEST_SKIP() << "only root can give a link to another user";
  const RunResult run = run_in(folder.path(), shipped_tool());
  EXPECT_EQ(run.err,
            "texport: HEADER.TIF: cannot use it: a symbolic link of another user; built-in TIFF "
            "headers instead\n"
            "texport: theirs.sfd: cannot open: a symbolic link of another user\n");
  EXPECT_EQ(read_file(folder / "mine.sfd1.tif"), builtin_tif(1, 1, {4}));
}

// A name an output takes may be planted: a link to a setuid program, a setuid file, a file of
// another user's. The output is a new file of the runner's, with at most the plain permission
// bits of a file of the runner's own that it replaces.
TEST_F(Hostile, NoOutputTakesSpecialBitsOrAnotherUsersMode) {
  SKIP_UNLESS_LINUX_TOOL();
  TempFolder elsewhere;
  write_file(elsewhere / "program", Bytes{'#', '!'});
  fs::permissions(elsewhere / "program", fs::perms(04755));
  const Bytes zero_frame = samples::sfd_container({{0, 0, {}}});
  for (const char* name : {"a.sfd", "b.sfd", "c.sfd"})
    write_file(folder / name, zero_frame);
  fs::create_symlink(elsewhere / "program", folder / "a.sfd1.tif");
  write_file(folder / "b.sfd1.tif", Bytes(5000, 0xAB));
  fs::permissions(folder / "b.sfd1.tif", fs::perms(04777));
  write_file(folder / "c.sfd1.tif", {});
  fs::permissions(folder / "c.sfd1.tif", fs::perms(0606));
  const bool root = give_away(folder / "c.sfd1.tif");
  const mode_t mask = ::umask(0);
  ::umask(mask);
  const RunResult run = run_in(folder.path(), shipped_tool());
  const auto mode = [&](const char* name) {
    struct stat info {};
    ::lstat((folder / name).c_str(), &info);
    return info.st_mode & 07777;
  };
  EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(folder / "a.sfd1.tif")));
  EXPECT_EQ(mode("a.sfd1.tif"), 0666 & ~mask);
  EXPECT_EQ(mode("b.sfd1.tif"), 0777u);
  EXPECT_EQ(read_file(folder / "b.sfd1.tif"), builtin_tif(0, 0, {}));  // replaced whole
  if (root) {
    EXPECT_EQ(mode("c.sfd1.tif"), 0666 & ~mask);
  }
  EXPECT_EQ(fs::status(elsewhere / "program").permissions(), fs::perms(04755));
  EXPECT_EQ(read_file(elsewhere / "program"), (Bytes{'#', '!'}));
}

TEST_F(Hostile, SpecialFilesAreNamedAndNeverWaitedOn) {
  // The Windows search lists neither broken links nor sockets; a FIFO it lists, and refuses.
  const bool on_linux = !windows_tool();
  ::mkfifo((folder / "HEADER.TIF").c_str(), 0644);
  ::mkfifo((folder / "fifo.sfd").c_str(), 0644);
  fs::create_symlink("nowhere", folder / "dangling.sfd");
  fs::create_symlink("loop.sfd", folder / "loop.sfd");
  const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  (folder / "socket.sfd").string().copy(address.sun_path, sizeof address.sun_path - 1);
  if (on_linux)
    ::bind(sock, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  write_file(folder / "z.sfd", kOneFrame);
  const RunResult run = run_in(folder.path(), shipped_tool());
  ::close(sock);
  EXPECT_EQ(run.err,
            std::string(on_linux ? "texport: dangling.sfd: cannot open: No such file or directory\n"
                                 : "") +
                "texport: fifo.sfd: cannot open: not a regular file\n" +
                (on_linux ? "texport: loop.sfd: cannot open: Too many levels of symbolic links\n"
                            "texport: socket.sfd: cannot open: No such device or address\n"
                          : "") +
                "texport: HEADER.TIF: cannot use it: not a regular file; built-in TIFF headers "
                "instead\n");
  EXPECT_TRUE(fs::exists(folder / "z.sfd1.tif"));
}

// Every byte that is no part of valid UTF-8, and every control (C1 ones too: 0x9B starts a
// terminal sequence on 8-bit terminals), is shown escaped on both streams.
TEST_F(Hostile, NamesAreShownWithTheirControlBytesEscaped) {
  SKIP_UNLESS_LINUX_TOOL();  // Windows names hold no control bytes
  write_file(folder / "x\nout of range, compressed? frame 1 in file FORGED.sfd", {});
  write_file(folder /
                 "\x9b"
                 "2K\xc2\x9b"
                 "1A.sfd",
             {});
  const RunResult run = run_in(folder.path(), all_passes_tool());
  EXPECT_EQ(run.out,
            "out of range, compressed? frame 1 in file x\\x0aout of range, compressed? frame 1 in "
            "file FORGED.sfd\n"
            "out of range, compressed? frame 1 in file \\x9b2K\\xc2\\x9b1A.sfd\n");
  // On standard error too: one line a source, no control byte.
  EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 2) << run.err;
  EXPECT_EQ(run.err.find('\x9b'), std::string::npos) << run.err;
}

TEST_F(Hostile, NamesOfEveryAlphabetAndOnlyExactExtensions) {
  write_file(folder / "墙.sfd", kOneFrame);
  write_file(folder / "mur_é.tex", samples::tex_packed_from_stream(1, 1, 0xC0, Bytes{0, 0, 9}));
  for (const char* name : {"x.sfdx", "long name.sfd_old", "notes.textile", "a.m32x"})
    write_file(folder / name, kOneFrame);
  const RunResult run = run_in(folder.path(), all_passes_tool());
  EXPECT_EQ(run.out, "mur_é.tex\n");
  EXPECT_EQ(read_file(folder / "墙.sfd1.tif"), builtin_tif(1, 1, {4}));
  EXPECT_EQ(read_file(folder / "mur_é.TIF"), builtin_tif(1, 1, {9}));
  EXPECT_EQ(list_folder(folder.path()).size(), 2u + 4 + 2);
}

// A name that the system would read as a path (possible on a share of another system's) is no
// source there, and nothing is ever read or written outside the folder.
TEST_F(Hostile, NamesHoldingPathSeparatorsStayInTheirFolder) {
  fs::create_directories(folder / "in" / "sub");
  write_file(folder / "in" / "..\\k.sfd", kOneFrame);
  write_file(folder / "in" / "sub\\j.sfd", kOneFrame);
  const RunResult run = run_in(folder / "in", shipped_tool());
  EXPECT_EQ(list_folder(folder.path()), (std::vector<std::string>{"in"}));
  EXPECT_TRUE(list_folder(folder / "in" / "sub").empty());
  if (windows_tool()) {
    const std::string why =
        ": unsupported: a name holding \\, / or :, which the system reads as "
        "a path; not a source\n";
    EXPECT_EQ(run.err, "texport: ..\\k.sfd" + why + "texport: sub\\j.sfd" + why);
  } else {
    EXPECT_EQ(read_file(folder / "in" / "..\\k.sfd1.tif"), builtin_tif(1, 1, {4}));
  }
}

// Windows: the names of devices are no files, whatever their extension; and the key wait never
// starts a command interpreter from the folder of textures, whatever COMSPEC says.
TEST_F(Hostile, WindowsDeviceNamesAndAPlantedInterpreter) {
  if (!windows_tool())
    GTEST_SKIP() << "a Windows build's own rules";
  write_file(folder / "CON.sfd", kOneFrame);
  write_file(folder / "nul.Sfd", kOneFrame);
  fs::copy_file(all_passes_tool(), folder / "cmd.exe");  // would convert x.tex if it ran
  write_file(folder / "x.tex", samples::tex_plain(1, 1, Bytes{9}));
  RunOptions options;
  options.environment = {"COMSPEC=cmd.exe"};
  const RunResult run = run_in(folder.path(), shipped_tool(), options);
  EXPECT_TRUE(run.prompt_seen);
  EXPECT_FALSE(fs::exists(folder / "x.TIF"));
  const std::string why = ": cannot open: the name is reserved on Windows\n";
  EXPECT_NE(run.err.find("texport: CON.sfd" + why), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("texport: nul.Sfd" + why), std::string::npos) << run.err;
}

// Two sources of any formats that give one image (on Windows, letter case aside) are both
// converted, the second told; an output is never written over a template.
TEST_F(Hostile, OutputsNeverReplaceATemplateAndRepeatsAreTold) {
  const Bytes packed = samples::tex_packed_from_stream(1, 1, 0xC0, Bytes{0, 0, 9});
  const Bytes header(kTifTemplate.header_length, 0x11);
  write_file(folder / "HEADER.tex", packed);
  write_file(folder / "HEADER.TIF", header);
  write_file(folder / "x.tex", packed);
  write_file(folder / "x.TEX", packed);
  write_file(folder / "a.sfd", kOneFrame);
  write_file(folder / "a.sfd1.tex", packed);
  const RunResult run = run_in(folder.path(), all_passes_tool());
  EXPECT_EQ(run.err,
            std::string(windows_tool() ? "texport: a.sfd1.TIF: written again, over the image of an "
                                         "earlier source\n"
                                       : "") +
                "texport: HEADER.TIF: cannot write it: it would replace a header template\n"
                "texport: x.TIF: written again, over the image of an earlier source\n");
  EXPECT_EQ(read_file(folder / "HEADER.TIF"), header);
}

TEST_F(Hostile, ClosedStandardOutputEndsNothing) {
  SKIP_UNLESS_LINUX_TOOL();
  for (const char* name : {"a.sfd", "b.sfd"})
    write_file(folder / name, {});  // each prints its out-of-range line
  write_file(folder / "c.sfd", kOneFrame);
  RunOptions options;
  options.closed_output = true;
  const RunResult run = run_in(folder.path(), shipped_tool(), options);
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_NE(run.err.find("texport: standard output: cannot write: Broken pipe\n"),
            std::string::npos);
  EXPECT_TRUE(fs::exists(folder / "c.sfd1.tif"));
}

// The run ends as the signal would have ended it, and its temporary is gone.
TEST_F(Hostile, DeadlySignalsDuringAWriteLeaveNoTemporary) {
  SKIP_UNLESS_LINUX_TOOL();
  write_file(folder / "a.sfd", kOneFrame);
  write_file(folder / "a.sfd1.tif", Bytes{'o', 'l', 'd'});
  for (const int signal_number :
       {SIGTERM, SIGINT, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM, SIGXCPU, SIGVTALRM, SIGPROF}) {
    RunOptions options;
    options.faults = true;
    options.environment = {"TEXPORT_FAULT_INTERRUPT=" + std::to_string(signal_number)};
    const RunResult run = run_in(folder.path(), shipped_tool(), options);
    EXPECT_EQ(run.signal, signal_number);
    EXPECT_EQ(list_folder(folder.path()), (std::vector<std::string>{"a.sfd", "a.sfd1.tif"}))
        << signal_number;
    EXPECT_EQ(read_file(folder / "a.sfd1.tif"), (Bytes{'o', 'l', 'd'}));
  }
}

TEST_F(Hostile, SourcesWhoseImagesWouldFillTheDiskAreRefused) {
  SKIP_UNLESS_LINUX_TOOL();
  // 64 entries of one 100 x 100 frame: 64 images from 10 kB.
  constexpr std::uint32_t kFrame = 4 + 4 * 64;
  Bytes bomb(kFrame + 8, 0);
  write_u32le(bomb, 0, 64);
  for (std::size_t m = 1; m <= 64; ++m)
    write_u32le(bomb, 4 * m, kFrame);
  write_u16le(bomb, kFrame, 100);
  write_u16le(bomb, kFrame + 2, 100);
  write_file(folder / "bomb.sfd", bomb + samples::sample_pixels(10000, 1));
  write_file(folder / "small.sfd", kOneFrame);
  struct statvfs room {};
  ASSERT_EQ(::statvfs(folder.path().c_str(), &room), 0);
  const std::uint64_t block = room.f_frsize;
  const std::uint64_t needed = 64 * ((11707 + block - 1) / block * block);
  RunOptions options;
  options.faults = true;
  options.environment = {"TEXPORT_FAULT_FREE_BYTES=" + std::to_string(16 * block)};
  const RunResult run = run_in(folder.path(), shipped_tool(), options);
  EXPECT_EQ(run.err, "texport: bomb.sfd: cannot write its 64 images: they need " +
                         readable_size(needed) + " and " + readable_size(16 * block) +
                         " is free\ntexport: HEADER.TIF: none here: built-in TIFF headers\n");
  EXPECT_EQ(list_folder(folder.path()),
            (std::vector<std::string>{"bomb.sfd", "small.sfd", "small.sfd1.tif"}));
  // Once its images are there, the same room holds them again: each replaces its own file.
  run_in(folder.path(), shipped_tool());
  EXPECT_EQ(run_in(folder.path(), shipped_tool(), options).err,
            "texport: HEADER.TIF: none here: built-in TIFF headers\n");
  EXPECT_EQ(list_folder(folder.path()).size(), 3u + 64u);
}

// The shipped tool on a terminal of its own, waiting at its prompt.
class AtThePrompt : public ::testing::Test {
 protected:
  TempFolder folder;
  int terminal = -1;  // our side
  int held = -1;      // the tool's side, held open so that what the tool leaves stays there
  pid_t child = -1;

  void SetUp() override {
    SKIP_UNLESS_LINUX_TOOL();
    terminal = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_TRUE(terminal >= 0 && ::grantpt(terminal) == 0 && ::unlockpt(terminal) == 0);
    const std::string side = ::ptsname(terminal);
    held = ::open(side.c_str(), O_RDWR | O_NOCTTY);
    child = ::fork();
    if (child == 0) {
      const int tty = (::setsid(), ::open(side.c_str(), O_RDWR));
      ::dup2(tty, 0);
      ::dup2(tty, 1);
      ::dup2(::open("/dev/null", O_WRONLY), 2);
      ::chdir(folder.path().c_str());
      ::signal(SIGINT, SIG_DFL);
      ::execl(shipped_tool().c_str(), "texport", nullptr);
      _exit(127);
    }
    std::string seen;
    char buffer[256];
    for (ssize_t got; seen.find("ress any key") == std::string::npos &&
                      (got = ::read(terminal, buffer, sizeof buffer)) > 0;)
      seen.append(buffer, static_cast<std::size_t>(got));
    ::usleep(100000);  // the prompt is out; the terminal goes raw right after
  }

  int wait() {
    int status = 0;
    ::waitpid(child, &status, 0);
    return status;
  }

  void TearDown() override {
    for (const int descriptor : {terminal, held})
      if (descriptor >= 0)
        ::close(descriptor);
  }
};

TEST_F(AtThePrompt, CtrlCRestoresTheTerminal) {
  ::kill(child, SIGINT);
  const int status = wait();
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT);
  termios after{};
  ASSERT_EQ(::tcgetattr(held, &after), 0);
  EXPECT_EQ(after.c_lflag & (ECHO | ICANON), static_cast<tcflag_t>(ECHO | ICANON));
}

// A key that sends several bytes (F5: ESC [ 1 5 ~) is taken whole: nothing of it is left for
// the shell's next line.
TEST_F(AtThePrompt, AKeyOfSeveralBytesIsTakenWhole) {
  ASSERT_EQ(::write(terminal, "\x1b[15~", 5), 5);
  const int status = wait();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  termios raw{};
  ASSERT_EQ(::tcgetattr(held, &raw), 0);
  raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
  raw.c_cc[VMIN] = 0;
  raw.c_cc[VTIME] = 0;
  ASSERT_EQ(::tcsetattr(held, TCSANOW, &raw), 0);
  char left[16];
  EXPECT_EQ(::read(held, left, sizeof left), 0);
}

}  // namespace
}  // namespace texport::testing
