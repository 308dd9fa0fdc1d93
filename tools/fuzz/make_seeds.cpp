// Writes seed inputs for the fuzz targets into two folders: documents stored by the program's own
// writer (empty, a small run, long and 16-bit texts, lengths that disagree) and small field maps
// in both units with the header forms the reader knows.
// Usage: fuzz_seeds DOCUMENT_DIR MAP_DIR
#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "results/document.h"

namespace {

using namespace zuba;

void Write(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

ResultTables SmallRun(int steps) {
  ResultTables r;
  std::vector<double> ek, rmn, bmn, rev, f0, dreo, orbit;
  for (int i = 0; i < steps; ++i) {
    ek.push_back(1.602e-13 * (1 + i));  // J
    rmn.push_back(0.1 + 0.05 * i);      // m
    bmn.push_back(1.2 + 0.001 * i);     // T
    rev.push_back(0.1 + 0.05 * i);      // m
    f0.push_back(18.2e6 - 1e3 * i);     // Hz
    dreo.push_back(1e-5 * i);           // m
  }
  for (int i = 0; i < 2 * steps; ++i) orbit.push_back(0.01 * i);
  r.Ek = RealTable(ek);
  r.Rmn = RealTable(rmn);
  r.Bmn = RealTable(bmn);
  r.Rev = RealTable(rev);
  r.F0 = RealTable(f0);
  r.dReo = RealTable(dreo);
  r.OrbitR = RealTable(orbit);
  r.OrbitTau = RealTable(orbit);
  r.OrbitPoints = IntTable(std::vector<int32_t>(static_cast<size_t>(steps), 2));
  r.run = {"examples/tvk310-p.sdf", "p", 1,      1.0 + steps, 1, 18.2, 1, 3, 1, 1,
           1.007276466812,          0,   6.2832, 0.01};
  return r;
}

std::string Map(const char* unit, const char* header, int values, double scale) {
  std::string s = std::string(unit) + "\n" + header + "\n";
  for (int i = 0; i < values; ++i) {
    s += std::to_string(scale * (1 + 0.01 * std::sin(i))) + (i % 6 == 5 ? "\n" : " ");
  }
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s DOCUMENT_DIR MAP_DIR\n", argv[0]);
    return 1;
  }
  const std::string docs = argv[1], maps = argv[2];

  Write(docs + "/empty.zub", StoreDocumentBytes(ResultTables{}, 0));
  Write(docs + "/run3.zub", StoreDocumentBytes(SmallRun(3), 1));
  ResultTables longText = SmallRun(1);
  longText.run.Path = std::string(300, 'p');  // three-byte length prefix
  Write(docs + "/long-path.zub", StoreDocumentBytes(longText, 1));
  ResultTables unequal = SmallRun(2);
  unequal.F0 = RealTable(std::vector<double>{18.2e6});
  Write(docs + "/unequal.zub", StoreDocumentBytes(unequal, 1));
  // A 16-bit Path: FF, the 16-bit value FFFE, a one-byte length, UTF-16LE characters.
  std::string wide = StoreDocumentBytes(ResultTables{}, 0);
  wide.replace(60, 1, std::string("\xFF\xFE\xFF\x03m\0a\0p\0", 10));
  Write(docs + "/wide-path.zub", wide);

  Write(maps + "/gauss-3x4.sdf", Map("Gs", "0.1 0.3 0.1\n0 360 90", 12, 12000));
  Write(maps + "/tesla-4x6.sdf", Map("T", "0.05 0.2 0.05\n-180 180 60", 24, 1.2));
  Write(maps + "/offset-3x8.sdf", Map("Gs", "0.1 0.3 0.1\n0.5 360.5 45", 24, 12000));
  Write(maps + "/round-header.sdf", Map("T", "0.1234 0.3234 0.0999\n0 360.4 120", 9, 1.5));
  return 0;
}
