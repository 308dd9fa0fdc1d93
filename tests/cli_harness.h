// Running the real zuba-cli from a test: a temporary folder per test, the program's exit code,
// stdout and stderr, and files written into the folder.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace zuba::test {

struct CliRun {
  int exitCode = -1;
  std::string out, err;
};

class CliTest : public testing::Test {
 protected:
  void SetUp() override {
    const testing::TestInfo* info = testing::UnitTest::GetInstance()->current_test_info();
    dir_ = std::filesystem::temp_directory_path() /
           ("zuba-cli-" + std::string(info->name()) + "-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  // Runs zuba-cli with the arguments (already quoted for the shell).
  CliRun Cli(const std::string& arguments) {
    const std::filesystem::path out = dir_ / "stdout", err = dir_ / "stderr";
    const std::string command = std::string("'") + ZUBA_CLI_PATH + "' " + arguments + " >'" +
                                out.string() + "' 2>'" + err.string() + "'";
    const int status = std::system(command.c_str());
    CliRun run;
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = Slurp(out);
    run.err = Slurp(err);
    return run;
  }
  static std::string Slurp(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  // Writes a file into the test's folder; its path.
  std::string Write(const std::string& name, const std::string& content) {
    std::ofstream(dir_ / name, std::ios::binary) << content;
    return (dir_ / name).string();
  }
  // A text quoted for the shell.
  static std::string Quote(const std::string& text) { return "'" + text + "'"; }

  std::filesystem::path dir_;
};

}  // namespace zuba::test
