// The closed orbits of a record as `orbits` and `run --orbits` write them (see orbits_output.h).
#include "cli/orbits_output.h"

#include <cstdio>
#include <iostream>
#include <nlohmann/json.hpp>

#include "cli/command.h"
#include "platform/files.h"
#include "platform/message.h"

namespace zuba::cli {

using Json = nlohmann::ordered_json;

void AddOrbitRequestOptions(CLI::App& app, const std::string& prefix, OrbitRequest& request) {
  app.add_option(prefix + "theta", request.thetaDeg,
                 "Azimuth of the orbit coordinates, degrees in [0, 360) in the map's frame")
      ->capture_default_str();
  app.add_option(prefix + "grid", request.gridDeg,
                 "Also the whole orbit on the azimuths 0, D, ..., 360 - D (D degrees, dividing "
                 "360)");
}

std::string OrbitCoordinatesJson(const OrbitCoordinates& orbits) {
  auto number = [](bool has, double value) { return has ? Json(value) : Json(nullptr); };
  Json out;
  out["theta_deg"] = orbits.request.thetaDeg;
  if (orbits.request.gridDeg) out["grid_deg"] = *orbits.request.gridDeg;
  Json energies = Json::array();
  const size_t gridSteps =
      orbits.request.gridDeg ? static_cast<size_t>(std::llround(360 / *orbits.request.gridDeg)) : 0;
  for (const ExportedOrbit& e : orbits.energies) {
    const bool has = e.hasValues;
    Json energy;
    energy["Ek_MeV"] = e.EkMeV;
    energy["status"] = e.status;
    energy["R_m"] = number(has, e.at.R);
    energy["pr_bg"] = number(has, e.PrBg(e.at));
    energy["u"] = number(has, e.at.u);
    energy["Rmean_m"] = number(has, e.shape.Rmean);
    energy["xc_m"] = number(has, e.shape.xc);
    energy["yc_m"] = number(has, e.shape.yc);
    if (gridSteps > 0) {
      Json theta = Json::array(), R = Json::array(), pr = Json::array(), u = Json::array();
      for (size_t k = 0; k < gridSteps; ++k) {
        theta.push_back(360.0 * static_cast<double>(k) / static_cast<double>(gridSteps));
        R.push_back(number(has, has ? e.grid[k].R : 0));
        pr.push_back(number(has, has ? e.PrBg(e.grid[k]) : 0));
        u.push_back(number(has, has ? e.grid[k].u : 0));
      }
      energy["orbit"] = Json{{"theta_deg", theta}, {"R_m", R}, {"pr_bg", pr}, {"u", u}};
    }
    energies.push_back(std::move(energy));
  }
  out["energies"] = std::move(energies);
  return out.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

int WriteOrbits(const ResultTables& results, const OrbitRequest& request, bool json,
                const std::string& output, const std::string& source, const RunOrbitField* field,
                const std::string& fieldNote) {
  const Result<OrbitCoordinates> orbits = OrbitCoordinatesOf(results, request, field);
  if (!orbits) {
    // The request's own lines name the option; a record without orbits names its file.
    const bool optionAtFault = !CheckOrbitRequest(request).ok();
    ShowMessage(optionAtFault ? orbits.message().text : source + ": " + orbits.message().text,
                "Error");
    return kExitRefused;
  }
  const std::string text = json ? OrbitCoordinatesJson(*orbits) : OrbitCoordinatesTable(*orbits);
  if (output.empty()) {
    std::cout << text << std::flush;
  } else if (Outcome written = WriteFileAtomically(output, text); !written) {
    ShowMessage(output + ": " + written.message().text, "Error");
    return kExitRefused;
  }
  if (!fieldNote.empty()) ShowMessage(fieldNote, "Note", Icon::Warning);
  if (orbits->accuracy) ShowMessage(*orbits->accuracy, "Warning", Icon::Warning);
  return kExitOk;
}

}  // namespace zuba::cli
