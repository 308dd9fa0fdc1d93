// Ctrl+C during `zuba-cli run`: the program runs on a terminal (a pseudo-terminal here), draws its
// progress bar, and the interrupt character typed once the bar shows asks the worker to stop. The
// energies in flight finish, no output file is written and the exit code is 130.
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

#ifdef ZUBA_CLI_PATH

struct Terminal {
  pid_t pid = -1;
  int master = -1;
  std::string output;  // everything the program wrote to its terminal so far

  // Reads what is there, waiting at most `ms`; false at the end of the output.
  bool Drain(int ms) {
    pollfd p{master, POLLIN, 0};
    if (::poll(&p, 1, ms) <= 0) return true;
    char buffer[4096];
    const ssize_t n = ::read(master, buffer, sizeof buffer);
    if (n <= 0) return false;
    output.append(buffer, static_cast<size_t>(n));
    return true;
  }
};

// Starts zuba-cli with the arguments on a new pseudo-terminal, as its controlling terminal.
Terminal Start(const std::vector<std::string>& arguments) {
  Terminal t;
  winsize size{};
  size.ws_col = 100;
  size.ws_row = 30;
  t.pid = ::forkpty(&t.master, nullptr, nullptr, &size);
  if (t.pid == 0) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(ZUBA_CLI_PATH));
    for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(ZUBA_CLI_PATH, argv.data());
    ::_exit(127);
  }
  return t;
}

TEST(InterruptedRun, CtrlCFinishesTheCurrentEnergiesWritesNothingAndExitsWith130) {
  const fs::path dir = fs::temp_directory_path() / ("zuba-interrupt-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  const fs::path report = dir / "r.txt", document = dir / "d.zub", values = dir / "v.tsv";
  // 0.6 ... 60.6 MeV in steps of 0.02 MeV: 3001 energies, a run of a minute or more; the stop
  // comes after the first few.
  Terminal t = Start({"run", "--map", std::string(ZUBA_EXAMPLES_DIR) + "/tvk310-p.sdf", "--set",
                      "dEk=0.02", "--threads", "2", "--report", report.string(), "--save",
                      document.string(), "--values", values.string()});
  ASSERT_GT(t.pid, 0) << "forkpty failed";

  // Wait for the progress bar.
  const Clock::time_point start = Clock::now();
  while (t.output.find("Calculation:") == std::string::npos &&
         Clock::now() - start < std::chrono::seconds(60)) {
    if (!t.Drain(100)) break;
  }
  ASSERT_NE(t.output.find("Calculation:"), std::string::npos) << t.output;

  // Ctrl+C as typed: the terminal turns it into SIGINT for the program.
  const char interrupt = 3;
  ASSERT_EQ(::write(t.master, &interrupt, 1), 1);
  const Clock::time_point interrupted = Clock::now();

  int status = 0;
  pid_t done = 0;
  while (done == 0 && Clock::now() - interrupted < std::chrono::seconds(60)) {
    t.Drain(50);
    done = ::waitpid(t.pid, &status, WNOHANG);
  }
  if (done == 0) {
    ::kill(t.pid, SIGKILL);
    ::waitpid(t.pid, &status, 0);
    FAIL() << "zuba-cli did not stop within 60 s of Ctrl+C:\n" << t.output;
  }
  while (t.Drain(50)) {
  }
  ::close(t.master);

  ASSERT_TRUE(WIFEXITED(status)) << t.output;
  EXPECT_EQ(WEXITSTATUS(status), 130) << t.output;
  EXPECT_NE(t.output.find("The calculation was stopped; nothing was written."), std::string::npos)
      << t.output;
  EXPECT_FALSE(fs::exists(report));
  EXPECT_FALSE(fs::exists(document));
  EXPECT_FALSE(fs::exists(values));
  EXPECT_TRUE(fs::is_empty(dir));  // no temporary files either
  fs::remove_all(dir);
}

#else

TEST(InterruptedRun, CtrlCFinishesTheCurrentEnergiesWritesNothingAndExitsWith130) {
  GTEST_SKIP() << "zuba-cli is not part of this build";
}

#endif

}  // namespace
