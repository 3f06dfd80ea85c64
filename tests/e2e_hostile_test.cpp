// Folders prepared by someone else, and a run that is interrupted: no file of anybody's is
// overwritten or leaked, nothing hangs, no name forges a console line.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include "encoders.hpp"
#include "support/expected.hpp"
#include "support/run.hpp"

namespace texport::testing {
namespace {

const Bytes kOneFrame = samples::sfd_container({{1, 1, {4}}});

class Hostile : public ::testing::Test {
 protected:
  TempFolder folder;
  // Root can hand a link to another user; nobody else can.
  static bool give_away(const fs::path& link) { return ::lchown(link.c_str(), 12345, 12345) == 0; }
};

TEST_F(Hostile, EveryFileTheToolCreatesIsCreatedExclusively) {
  SKIP_UNLESS_LINUX_TOOL();
  for (const std::string& name : list_folder(TEXPORT_EXAMPLES_DIR))
    fs::copy_file(fs::path(TEXPORT_EXAMPLES_DIR) / name, folder / name);
  RunOptions options;
  options.faults = true;  // the shim aborts the tool on any other kind of create
  const RunResult run = run_in(folder.path(), all_passes_tool(), options);
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(run.summary,
            "texport: done: 9 sources read, 13 images written, 1 source with problems\n");
}

TEST_F(Hostile, LinksOfAnotherUserAreNotFollowed) {
  SKIP_UNLESS_LINUX_TOOL();
  write_file(folder / "secret", Bytes(2000, 0x5E));
  write_file(folder / "real.bin", kOneFrame);
  fs::create_symlink("real.bin", folder / "mine.sfd");
  fs::create_symlink("secret", folder / "theirs.sfd");
  fs::create_symlink("secret", folder / "HEADER.TIF");
  if (!give_away(folder / "theirs.sfd") || !give_away(folder / "HEADER.TIF"))
    GTEST_SKIP() << "only root can give a link to another user";
  const RunResult run = run_in(folder.path(), shipped_tool());
  EXPECT_EQ(run.err,
            "texport: HEADER.TIF: cannot use it: a symbolic link of another user; using a built-in "
            "header\n"
            "texport: theirs.sfd: cannot open: a symbolic link of another user\n");
  EXPECT_EQ(read_file(folder / "mine.sfd1.tif"), expected_tif(builtin_tif_header(1, 1), 1, 1, {4}));
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
  EXPECT_EQ(
      run.err,
      std::string(on_linux ? "texport: dangling.sfd: cannot open: No such file or directory\n"
                           : "") +
          "texport: fifo.sfd: cannot open: not a regular file\n" +
          (on_linux ? "texport: loop.sfd: cannot open: Too many levels of symbolic links\n"
                      "texport: socket.sfd: cannot open: No such device or address\n"
                    : "") +
          "texport: HEADER.TIF: cannot use it: not a regular file; using a built-in header\n");
  EXPECT_TRUE(fs::exists(folder / "z.sfd1.tif"));
}

TEST_F(Hostile, NamesAreShownWithTheirControlBytesEscaped) {
  SKIP_UNLESS_LINUX_TOOL();  // Windows names hold no control bytes
  write_file(folder / "x\nout of range, compressed? frame 1 in file FORGED.sfd", {});
  write_file(folder / "\x1b[31mred.m32", Bytes(197, 2));
  const RunResult run = run_in(folder.path(), all_passes_tool());
  EXPECT_EQ(run.out,
            "out of range, compressed? frame 1 in file x\\x0aout of range, compressed? frame 1 in "
            "file FORGED.sfd\n");
  EXPECT_EQ(run.err,
            "texport: \\x1b[31mred.m32: damaged: 197 bytes, too few for its width and height "
            "(198 needed)\n");
}

TEST_F(Hostile, NamesOfEveryAlphabetAndOnlyExactExtensions) {
  write_file(folder / "墙.sfd", kOneFrame);
  write_file(folder / "mur_é.tex", samples::tex_packed_from_stream(1, 1, 0xC0, Bytes{0, 0, 9}));
  for (const char* name : {"x.sfdx", "long name.sfd_old", "notes.textile", "a.m32x"})
    write_file(folder / name, kOneFrame);
  const RunResult run = run_in(folder.path(), all_passes_tool());
  EXPECT_EQ(run.out, "mur_é.tex\n");
  EXPECT_EQ(read_file(folder / "墙.sfd1.tif"), expected_tif(builtin_tif_header(1, 1), 1, 1, {4}));
  EXPECT_EQ(read_file(folder / "mur_é.TIF"), expected_tif(builtin_tif_header(1, 1), 1, 1, {9}));
  EXPECT_EQ(list_folder(folder.path()).size(), 2u + 4 + 2);
}

TEST_F(Hostile, OutputsNeverReplaceATemplateAndRepeatsAreTold) {
  const Bytes packed = samples::tex_packed_from_stream(1, 1, 0xC0, Bytes{0, 0, 9});
  write_file(folder / "HEADER.tex", packed);
  write_file(folder / "HEADER.TIF", builtin_tif_header(1, 1));
  write_file(folder / "x.tex", packed);
  write_file(folder / "x.TEX", packed);
  const RunResult run = run_in(folder.path(), all_passes_tool());
  EXPECT_EQ(run.err,
            "texport: HEADER.TIF: cannot write it: it would replace a header template\n"
            "texport: x.TIF: written again, over the image of an earlier source\n");
  EXPECT_EQ(read_file(folder / "HEADER.TIF"), builtin_tif_header(1, 1));
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

TEST_F(Hostile, InterruptedWriteLeavesNoTemporary) {
  SKIP_UNLESS_LINUX_TOOL();
  write_file(folder / "a.sfd", kOneFrame);
  write_file(folder / "a.sfd1.tif", Bytes{'o', 'l', 'd'});
  RunOptions options;
  options.faults = true;
  options.environment = {"TEXPORT_FAULT_INTERRUPT=1"};
  const RunResult run = run_in(folder.path(), shipped_tool(), options);
  EXPECT_EQ(run.signal, SIGTERM);
  EXPECT_EQ(list_folder(folder.path()), (std::vector<std::string>{"a.sfd", "a.sfd1.tif"}));
  EXPECT_EQ(read_file(folder / "a.sfd1.tif"), (Bytes{'o', 'l', 'd'}));
}

TEST_F(Hostile, CtrlCAtThePromptRestoresTheTerminal) {
  SKIP_UNLESS_LINUX_TOOL();
  const int terminal = ::posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_TRUE(terminal >= 0 && ::grantpt(terminal) == 0 && ::unlockpt(terminal) == 0);
  const std::string side = ::ptsname(terminal);
  const pid_t child = ::fork();
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
  ::kill(child, SIGINT);
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT);
  termios after{};
  const int tty = ::open(side.c_str(), O_RDWR | O_NOCTTY);
  ASSERT_EQ(::tcgetattr(tty, &after), 0);
  EXPECT_EQ(after.c_lflag & (ECHO | ICANON), static_cast<tcflag_t>(ECHO | ICANON));
  ::close(tty);
  ::close(terminal);
}

}  // namespace
}  // namespace texport::testing
