// zuba-cli field and harmonics, run as the real program on a small map in a temporary folder.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

namespace zuba {
namespace {

namespace fs = std::filesystem;

const double kPi = 4.0 * std::atan(1.0);

// The planted field (T): a four-sector flutter of amplitude 0.25·R (m) with a spiral phase.
double Planted(double R, double theta) {
  return 1.2 + 0.3 * R * R + 0.25 * R * std::cos(4 * theta - 1.5 * R);
}

class CliNumerics : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("zuba-cli-numerics-" + std::to_string(::getpid()));
    fs::create_directories(dir_);
    // 11 radii 0.1 … 0.6 m, 36 azimuths 0° … 350°, values in tesla with five decimals.
    std::ofstream out(dir_ / "map.sdf");
    out << "T 0.1 0.6 0.05 0 360 10\n";
    for (int i = 0; i < 11; ++i) {
      for (int j = 0; j < 36; ++j) {
        char text[32];
        std::snprintf(text, sizeof text, "%.5f", Planted(0.1 + 0.05 * i, j * kPi / 18));
        values_.push_back(std::strtod(text, nullptr));
        out << text << (j == 35 ? "\n" : " ");
      }
    }
  }
  void TearDown() override { fs::remove_all(dir_); }

  int Run(const std::string& arguments) {
    const std::string command = std::string("\"") + ZUBA_CLI_PATH + "\" " + arguments + " >\"" +
                                (dir_ / "out").string() + "\" 2>\"" + (dir_ / "err").string() +
                                "\"";
    const int status = std::system(command.c_str());
    out_ = Read(dir_ / "out");
    err_ = Read(dir_ / "err");
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  static std::string Read(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  std::string Map() const { return "\"" + (dir_ / "map.sdf").string() + "\""; }

  fs::path dir_;
  std::string out_, err_;
  std::vector<double> values_;  // T, radius-major
};

TEST_F(CliNumerics, FieldPrintsTheStoredValueAtANodeWithSeventeenDigits) {
  // Radius node 4 (0.3 m), azimuth node 9 (90°), and the same azimuth two turns back.
  for (double theta : {0.5 * kPi, 0.5 * kPi - 4 * kPi}) {
    char text[40];
    std::snprintf(text, sizeof text, "%.17g", theta);
    ASSERT_EQ(Run("field " + Map() + " 0.3 " + text), 0) << err_;
    EXPECT_NEAR(std::strtod(out_.c_str(), nullptr), values_[4 * 36 + 9], 1e-12);
  }
  ASSERT_EQ(Run("field " + Map() + " 0.33 0.2"), 0) << err_;
  EXPECT_NEAR(std::strtod(out_.c_str(), nullptr), Planted(0.33, 0.2), 1e-4);
  char digits[40];
  std::snprintf(digits, sizeof digits, "%.17g\n", std::strtod(out_.c_str(), nullptr));
  EXPECT_EQ(out_, digits);
}

TEST_F(CliNumerics, FieldRefusalsShowTheEvaluationsMessageAndExitTwo) {
  EXPECT_EQ(Run("field " + Map() + " -0.1 0"), 2);
  EXPECT_EQ(err_, "Error: Negative value of R!\n");
  EXPECT_EQ(out_, "");
  EXPECT_EQ(Run("field " + Map() + " 0.61 0"), 2);
  EXPECT_EQ(err_, "Error: Radius value error!\n");
  // Below the first radius the field is not extrapolated: one line naming the file and the radii.
  EXPECT_EQ(Run("field " + Map() + " 0.05 0"), 2);
  EXPECT_EQ(err_, "Error: " + (dir_ / "map.sdf").string() +
                      ": R = 0.05 m lies below the map, whose radii run from 0.1 to 0.6 m\n");
  EXPECT_EQ(out_, "");
  EXPECT_EQ(Run("field " + Map() + " 0.1 0"), 0) << err_;
  EXPECT_EQ(Run("field " + Map() + " 0.3 abc"), 1);
  EXPECT_EQ(Run("field \"" + (dir_ / "missing.sdf").string() + "\" 0.3 0"), 2);
}

TEST_F(CliNumerics, HarmonicsJsonHoldsEveryRadiusAndRecoversThePlantedFlutter) {
  ASSERT_EQ(Run("harmonics " + Map() + " --sectors 4 --json"), 0) << err_;
  const nlohmann::json doc = nlohmann::json::parse(out_);
  const auto& radii = doc.at("radii");
  ASSERT_EQ(radii.size(), 11u);
  for (std::size_t i = 0; i < radii.size(); ++i) {
    const auto& r = radii[i];
    const double R = r.at("r_m").get<double>();
    EXPECT_NEAR(R, 0.1 + 0.05 * i, 1e-12);
    EXPECT_NEAR(r.at("mean_field_t").get<double>(), 1.2 + 0.3 * R * R, 1e-5);
    EXPECT_TRUE(r.at("field_index").is_number());
    const auto& harmonics = r.at("harmonics");
    std::vector<int> numbers;
    for (const auto& h : harmonics) numbers.push_back(h.at("n").get<int>());
    EXPECT_EQ(numbers, (std::vector<int>{1, 2, 3, 4, 8, 12, 16, 20}));
    EXPECT_NEAR(harmonics[3].at("amplitude_t").get<double>(), 0.25 * R, 1e-5);
    // cos(4θ − 1.5R) = cos(4(θ − 0.375R)).
    EXPECT_NEAR(harmonics[3].at("phase_rad").get<double>(), 0.375 * R, 1e-4);
    EXPECT_NEAR(r.at("epsilon").get<double>(), 0.25 * R / (1.2 + 0.3 * R * R), 1e-5);
    EXPECT_EQ(r.at("psi_rad").get<double>(), harmonics[3].at("phase_rad").get<double>());
    EXPECT_GT(r.at("v").get<double>(), 0.0);
  }
}

TEST_F(CliNumerics, HarmonicsTableHasAHeaderAndOneLinePerRadius) {
  ASSERT_EQ(Run("harmonics " + Map() + " --sectors 3"), 0) << err_;
  std::istringstream lines(out_);
  std::string header, line;
  std::getline(lines, header);
  EXPECT_EQ(header,
            "R_m\tmean_field_T\tfield_index\tA1_T\tphase1_rad\tA2_T\tphase2_rad\tA3_T\tphase3_"
            "rad\tA6_T\tphase6_rad\tA9_T\tphase9_rad\tA12_T\tphase12_rad\tA15_T\tphase15_rad\t"
            "epsilon\tpsi_rad\tv");
  int count = 0;
  while (std::getline(lines, line)) {
    ++count;
    EXPECT_EQ(std::count(line.begin(), line.end(), '\t'), 19) << line;
  }
  EXPECT_EQ(count, 11);
  EXPECT_EQ(Run("harmonics " + Map() + " --sectors 1"), 1);
}

}  // namespace
}  // namespace zuba
