// Writes seed inputs for the fuzz targets into their folders: documents stored by the program's
// own writer (empty, a small run, long and 16-bit texts, lengths that disagree), small *.sdf maps
// in both units with the header forms the reader knows, and small maps of the laboratory formats
// (polar, measured records, column tables) in their forms.
// Usage: fuzz_seeds DOCUMENT_DIR MAP_DIR [POLAR_DIR RECORD_DIR TABLE_DIR]
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

// A polar map: six header lines, then B in kG, five a line.
std::string PolarMap(const char* header, int values) {
  std::string s = std::string(header) + "\n";
  for (int i = 0; i < values; ++i)
    s += std::to_string(17 + 3 * std::cos(i)) + (i % 5 == 4 ? "\n" : " ");
  return s;
}

// A record map of `radii` records of 4 x `azimuths` values in fields of 16 characters.
std::string RecordMap(const char* header, int radii, int azimuths) {
  char line[128];
  std::string s = std::string(header) + "\n LABEL=SEED\n";
  std::snprintf(line, sizeof line, " CFELD=FIELD     NREC=%5d      NPAR=    2\n", radii);
  s += line;
  std::snprintf(line, sizeof line, " LPAR=    3      IENT=    1      IPAR=    1\n%16d%16d%16d\n", 3,
                radii, azimuths);
  s += line;
  s += " LPAR=   12      IENT=    3      IPAR=    2\n SEED MAP    \n";
  for (int i = 0; i < radii; ++i) {
    std::snprintf(line, sizeof line, " LREC=%5d      IENT=    2      IREC=%5d\n", 4 * azimuths,
                  i + 1);
    s += line;
    for (int k = 0; k < 4 * azimuths; ++k) {
      std::snprintf(line, sizeof line, "%16.9E", (k < azimuths ? 10 : -3) * std::cos(k + i));
      s += line;
      if (k % 5 == 4 || k + 1 == 4 * azimuths) s += "\n";
    }
  }
  return s;
}

// A record map whose second parameter block holds reals: nine numbers, then the mean B of every
// record's azimuths (kG), which the reader checks.
std::string RecordMapWithMeans(int radii, int azimuths) {
  char line[128];
  std::string s = "100.0\n10.0\n0.0\n15.0\n LABEL=SEED\n";
  std::snprintf(line, sizeof line, " CFELD=FIELD     NREC=%5d      NPAR=    2\n", radii);
  s += line;
  std::snprintf(line, sizeof line, " LPAR=    3      IENT=    1      IPAR=    1\n%16d%16d%16d\n", 3,
                radii, azimuths);
  s += line;
  std::snprintf(line, sizeof line, " LPAR=%5d      IENT=    2      IPAR=    2\n", 9 + radii);
  s += line;
  std::string records;
  for (int k = 0; k < 9; ++k) {
    std::snprintf(line, sizeof line, "%16.9E", 1.0 + k);
    s += line;
  }
  for (int i = 0; i < radii; ++i) {
    double sum = 0;
    std::snprintf(line, sizeof line, " LREC=%5d      IENT=    2      IREC=%5d\n", 4 * azimuths,
                  i + 1);
    records += line;
    for (int k = 0; k < 4 * azimuths; ++k) {
      const double value = k < azimuths ? 12 + std::cos(k + i) : -3 * std::sin(k + i);
      if (k < azimuths) sum += value;
      std::snprintf(line, sizeof line, "%16.9E", value);
      records += line;
      if (k % 5 == 4 || k + 1 == 4 * azimuths) records += "\n";
    }
    std::snprintf(line, sizeof line, "%16.9E", sum / azimuths);
    s += line;
  }
  return s + "\n" + records;
}

// A polar-mesh map: three header lines, the six numbers, the azimuths (rad) over `degrees`, the
// radii (cm), then B (kG), seven a line.
std::string PolarMeshMap(int azimuths, int radii, double degrees) {
  char line[160];
  std::snprintf(line, sizeof line, "Header\nHeader\nHeader\n%12d%12d%12.6f%16.5f%16d%12d\n",
                azimuths, radii, degrees, 40.0, 1, 1);
  std::string s = line;
  int count = 0;
  auto add = [&](double v) {
    std::snprintf(line, sizeof line, "%.9f", v);
    s += line;
    s += ++count % 7 == 0 ? "\n" : " ";
  };
  for (int j = 0; j < azimuths; ++j) add(degrees / (azimuths - 1) * j * 3.141592653589793 / 180);
  for (int i = 0; i < radii; ++i) add(5 + 10 * i);
  for (int n = 0; n < radii * azimuths; ++n) add(17 + 3 * std::cos(n));
  return s + "\n";
}

// A table of radii x azimuths nodes (degrees over `span`), rows in reverse order.
std::string TableMap(const char* header, const char* separator, int radii, int azimuths,
                     double span) {
  std::string s = header[0] ? std::string(header) + "\n" : "";
  for (int node = radii * azimuths - 1; node >= 0; --node)
    s += std::to_string(100 + 10 * (node / azimuths)) + separator +
         std::to_string(span * (node % azimuths) / azimuths) + separator +
         std::to_string(1.5 + 0.1 * std::sin(node)) + "\n";
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 && argc != 7) {
    std::fprintf(stderr,
                 "usage: %s DOCUMENT_DIR MAP_DIR [POLAR_DIR RECORD_DIR TABLE_DIR POLAR_MESH_DIR]\n",
                 argv[0]);
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
  if (argc == 3) return 0;

  const std::string polar = argv[3], records = argv[4], tables = argv[5];
  Write(polar + "/full-3x8.txt", PolarMap("100\n10\n0\n45\n8\n3", 24));
  Write(polar + "/closing-2x9.txt", PolarMap("100\n10\n0\n45\n9\n2", 18));
  Write(polar + "/third-degree-sector.txt", PolarMap("0\n-2\n-30\n-3\n46\n2", 92));
  Write(records + "/sector-2x6.txt", RecordMap("100.0\n10.0\n0.0\n15.0", 2, 6));
  Write(records + "/half-sector-3x4.txt", RecordMap("100.0\n10.0\n0.0\n-0.2", 3, 4));
  Write(records + "/means-3x6.txt", RecordMapWithMeans(3, 6));
  Write(tables + "/csv-2x4.csv", TableMap("r_mm,theta_deg,bz_T", ",", 2, 4, 360));
  Write(tables + "/tsv-3x3.tsv", TableMap("R_m\ttheta_rad\tBz_kG", "\t", 3, 3, 6.283185307179586));
  Write(tables + "/bare-2x6.txt", TableMap("", "  ", 2, 6, 90));
  const std::string meshes = argv[6];
  Write(meshes + "/sector-7x3.map", PolarMeshMap(7, 3, 90));
  Write(meshes + "/turn-9x2.map", PolarMeshMap(9, 2, 360));
  return 0;
}
