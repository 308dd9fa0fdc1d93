// Machine files (see machine_file.h).
#include "calc/run/machine_file.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <nlohmann/json.hpp>
#include <system_error>

#include "calc/maps/map_formats.h"
#include "numerics/constants.h"
#include "platform/files.h"
#include "results/run_fields.h"

namespace zuba {
namespace {

using Json = nlohmann::ordered_json;
namespace fs = std::filesystem;

// The run fields a machine file must give; ChargeSign and h have defaults.
constexpr const char* kRequiredFields[] = {"ParticleName", "m0",    "Q",  "Frf", "H", "N",
                                           "EkBegin",      "EkEnd", "dEk"};
constexpr const char* kMachineKeys = "name fields gain_per_turn_mev closure tolerance map";
constexpr const char* kMapKeys =
    "path format replicate mirror negate reverse r_unit theta_unit b_unit";

// A JSON value as a short text for a refusal.
std::string Shown(const Json& value) {
  std::string text = value.dump(-1, ' ', false, Json::error_handler_t::replace);
  if (text.size() > 40) text = text.substr(0, 37) + "...";
  return text;
}

// The refusals of one file: "FILE: ..." with the field named.
struct Refusals {
  const std::string& file;
  Failure Field(const std::string& field, const std::string& what) const {
    return ErrorFailure(file + ": \"" + field + "\" " + what, field);
  }
  Failure Unknown(const std::string& field, const char* names) const {
    return ErrorFailure(file + ": unknown field \"" + field + "\"; the fields are " + names, field);
  }
};

// A whole number of the int32 range, from a JSON number; nothing for anything else.
std::optional<int32_t> WholeNumber(const Json& value) {
  if (!value.is_number()) return std::nullopt;
  const double v = value.get<double>();
  if (!(std::fabs(v) <= std::numeric_limits<int32_t>::max()) || v != std::floor(v))
    return std::nullopt;
  return static_cast<int32_t>(v);
}

Outcome ReadRunField(const Refusals& refuse, const std::string& key, const Json& value,
                     RunParameters& run) {
  const RunField* field = FindRunField(key);
  if (field == nullptr || !field->settable())
    return refuse.Unknown("fields." + key, SettableRunFieldNames().c_str());
  const std::string name = "fields." + key;
  switch (field->type()) {
    case RunFieldType::Text:
      if (!value.is_string()) return refuse.Field(name, "must be a text, not " + Shown(value));
      run.*field->member.text = value.get<std::string>();
      return {};
    case RunFieldType::Real:
      if (!value.is_number() || !std::isfinite(value.get<double>()))
        return refuse.Field(name, "must be a number, not " + Shown(value));
      run.*field->member.real = value.get<double>();
      return {};
    case RunFieldType::Integer:
      if (const std::optional<int32_t> whole = WholeNumber(value)) {
        run.*field->member.integer = *whole;
        return {};
      }
      return refuse.Field(name, "must be a whole number, not " + Shown(value));
  }
  return {};
}

Outcome ReadFields(const Refusals& refuse, const Json& fields, RunParameters& run) {
  if (!fields.is_object()) return refuse.Field("fields", "must be an object, not " + Shown(fields));
  for (const auto& [key, value] : fields.items())
    if (Outcome o = ReadRunField(refuse, key, value, run); !o) return o;
  for (const char* required : kRequiredFields)
    if (!fields.contains(required))
      return refuse.Field(std::string("fields.") + required, "is missing");
  return {};
}

// A unit or format name of the map block through its parser.
template <class Parse, class T>
Outcome ReadName(const Refusals& refuse, const std::string& field, const Json& value, Parse parse,
                 const char* names, T& out) {
  const auto parsed = value.is_string() ? parse(value.get<std::string>()) : std::nullopt;
  if (!parsed)
    return refuse.Field(field, std::string("must be one of ") + names + ", not " + Shown(value));
  out = *parsed;
  return {};
}

Outcome ReadMapBlock(const Refusals& refuse, const Json& map, Machine& machine) {
  if (!map.is_object()) return refuse.Field("map", "must be an object, not " + Shown(map));
  MapReadingOptions& o = machine.mapReading;
  for (const auto& [key, value] : map.items()) {
    const std::string field = "map." + key;
    Outcome read;
    if (key == "path") {
      if (!value.is_string() || value.get<std::string>().empty())
        return refuse.Field(field, "must be a file name, not " + Shown(value));
      machine.mapPath = value.get<std::string>();
    } else if (key == "format") {
      read =
          ReadName(refuse, field, value, ParseMapFormat, "auto sdf polar records table polar-mesh", o.format);
    } else if (key == "replicate") {
      const std::optional<int32_t> n = WholeNumber(value);
      if (!n || *n < 0 || *n > kMaxReplicate)
        return refuse.Field(field, "must be a whole number of sectors from 0 to " +
                                       std::to_string(kMaxReplicate) + ", not " + Shown(value));
      o.replicate = *n;
    } else if (key == "mirror" || key == "negate" || key == "reverse") {
      if (!value.is_boolean())
        return refuse.Field(field, "must be true or false, not " + Shown(value));
      (key == "mirror" ? o.mirror : key == "negate" ? o.negate : o.reverse) = value.get<bool>();
    } else if (key == "r_unit") {
      read = ReadName(refuse, field, value, ParseRadiusUnit, "m mm", o.rUnit);
    } else if (key == "theta_unit") {
      read = ReadName(refuse, field, value, ParseAngleUnit, "deg rad", o.thetaUnit);
    } else if (key == "b_unit") {
      read = ReadName(refuse, field, value, ParseFieldUnit, "T Gs kG", o.bUnit);
    } else {
      return refuse.Unknown(field, kMapKeys);
    }
    if (!read) return read;
  }
  if (machine.mapPath.empty()) return refuse.Field("map.path", "is missing");
  if (Outcome checked = CheckMapReadingOptions(o); !checked)
    return refuse.Field("map", checked.message().text);
  machine.hasMap = true;
  return {};
}

// The map path as the run is given it: relative to the machine file's folder.
std::string ResolvedMapPath(const std::string& mapPath, const std::string& file) {
  const fs::path p(mapPath);
  if (p.is_absolute()) return mapPath;
  return (fs::path(file).parent_path() / p).lexically_normal().string();
}

}  // namespace

Result<Machine> ParseMachine(std::string_view text, const std::string& path) {
  const Refusals refuse{path};
  Json json;
  try {
    json = Json::parse(text);
  } catch (const Json::parse_error& e) {
    std::string why = e.what();
    if (const size_t at = why.find("] "); at != std::string::npos) why.erase(0, at + 2);
    return ErrorFailure(path + ": not a JSON machine file: " + why, "machine file");
  }
  if (!json.is_object())
    return ErrorFailure(path + ": not a JSON machine file: the text is not an object",
                        "machine file");
  Machine machine;
  machine.run.T0 = 0;
  machine.run.TIs = kTwoPi;
  machine.run.h = 1e-4;
  machine.name = fs::path(path).stem().string();
  for (const auto& [key, value] : json.items()) {
    if (key == "name") {
      if (!value.is_string()) return refuse.Field("name", "must be a text, not " + Shown(value));
      machine.name = value.get<std::string>();
    } else if (key == "fields") {
      if (Outcome o = ReadFields(refuse, value, machine.run); !o) return o;
    } else if (key == "gain_per_turn_mev") {
      if (!value.is_number() || !(value.get<double>() >= 1e-6 && value.get<double>() <= 1e6))
        return refuse.Field(key, "must be a number of MeV from 1e-6 to 1e6, not " + Shown(value));
      machine.gainPerTurnMeV = value.get<double>();
    } else if (key == "closure") {
      const auto mode =
          value.is_string() ? ParseClosureMode(value.get<std::string>()) : std::nullopt;
      if (!mode)
        return refuse.Field(key, "must be \"standard\" or \"precise\", not " + Shown(value));
      machine.closure = *mode;
    } else if (key == "tolerance") {
      if (!value.is_number() || !CheckPreciseTolerance(value.get<double>()))
        return refuse.Field(key, "must be a number from 1e-14 to 1e-4, not " + Shown(value));
      machine.tolerance = value.get<double>();
    } else if (key == "map") {
      if (Outcome o = ReadMapBlock(refuse, value, machine); !o) return o;
    } else {
      return refuse.Unknown(key, kMachineKeys);
    }
  }
  if (!json.contains("fields")) return refuse.Field("fields", "is missing");
  if (machine.hasMap) {
    machine.run.Path = ResolvedMapPath(machine.mapPath, path);
    std::error_code error;
    if (!fs::is_regular_file(machine.run.Path, error))
      return refuse.Field("map.path", "names no file: " + machine.run.Path);
  }
  return machine;
}

Result<Machine> ReadMachineFile(const std::string& path) {
  const FileBytes file = ReadWholeFile(path);
  if (file.status != ReadStatus::Ok)
    return ErrorFailure(path + ": the machine file cannot be read", "machine file");
  return ParseMachine(file.bytes, path);
}

std::string MachineFileText(const Machine& machine) {
  Json json;
  json["name"] = machine.name;
  Json fields = Json::object();
  for (const RunField& field : kRunFields) {
    if (!field.settable()) continue;
    VisitRunField(field, machine.run, [&](const auto& value) { fields[field.name] = value; });
  }
  json["fields"] = std::move(fields);
  if (machine.gainPerTurnMeV) json["gain_per_turn_mev"] = *machine.gainPerTurnMeV;
  if (machine.closure) json["closure"] = std::string(ClosureModeName(*machine.closure));
  if (machine.tolerance) json["tolerance"] = *machine.tolerance;
  if (machine.hasMap) {
    const MapReadingOptions& o = machine.mapReading;
    Json map;
    map["path"] = machine.mapPath;
    map["format"] = MapFormatName(o.format);
    map["replicate"] = o.replicate;
    map["mirror"] = o.mirror;
    map["negate"] = o.negate;
    map["reverse"] = o.reverse;
    if (o.rUnit != RadiusUnit::None) map["r_unit"] = RadiusUnitName(o.rUnit);
    if (o.thetaUnit != AngleUnit::None) map["theta_unit"] = AngleUnitName(o.thetaUnit);
    if (o.bUnit != FieldUnit::None) map["b_unit"] = FieldUnitName(o.bUnit);
    json["map"] = std::move(map);
  }
  return json.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

Machine MachineOfRun(const std::string& name, const RunParameters& run,
                     std::optional<ClosureMode> closure, std::optional<double> gainPerTurnMeV,
                     std::optional<double> tolerance, const std::string& mapPath,
                     const MapReadingOptions& mapReading) {
  Machine machine;
  machine.name = name;
  machine.run = run;
  machine.closure = closure;
  machine.gainPerTurnMeV = gainPerTurnMeV;
  machine.tolerance = tolerance;
  machine.hasMap = !mapPath.empty();
  machine.mapPath = mapPath;
  machine.mapReading = mapReading;
  return machine;
}

std::string UserMachineFolder() {
  if (const char* config = std::getenv("XDG_CONFIG_HOME"); config != nullptr && *config == '/')
    return std::string(config) + "/zuba/machines";
  if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0')
    return std::string(home) + "/.config/zuba/machines";
  return {};
}

std::vector<MachineEntry> ListMachineFiles(const std::string& folder,
                                           std::vector<std::string>* refused) {
  std::vector<MachineEntry> entries;
  std::error_code error;
  if (folder.empty() || !fs::is_directory(folder, error)) return entries;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder, error)) {
    if (entry.path().extension() != ".json" || !entry.is_regular_file(error)) continue;
    const Result<Machine> machine = ReadMachineFile(entry.path().string());
    if (machine)
      entries.push_back({machine->name, entry.path().string()});
    else if (refused != nullptr)
      refused->push_back(machine.message().text);
  }
  std::sort(entries.begin(), entries.end(), [](const MachineEntry& a, const MachineEntry& b) {
    return a.name != b.name ? a.name < b.name : a.path < b.path;
  });
  return entries;
}

std::string PathRelativeToFile(const std::string& target, const std::string& file) {
  std::error_code error;
  const fs::path absoluteTarget = fs::absolute(target, error).lexically_normal();
  const fs::path folder = fs::absolute(file, error).parent_path().lexically_normal();
  if (error) return target;
  // Relative only where the two share more than the root: a path up to the root and down again
  // says less than the absolute one.
  auto t = absoluteTarget.begin(), f = folder.begin();
  int shared = 0;
  for (; t != absoluteTarget.end() && f != folder.end() && *t == *f; ++t, ++f) ++shared;
  if (shared <= 1) return absoluteTarget.string();
  return absoluteTarget.lexically_relative(folder).string();
}

}  // namespace zuba
