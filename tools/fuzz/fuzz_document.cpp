// Fuzz target of the document reader: any bytes are either loaded or refused with one line, a
// refusal hands back nothing, and a loaded document stored again loads back to the same bytes.
// The text report is built from every loaded document as well (silently refused when the
// per-energy tables differ in length).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "results/document.h"
#include "results/report.h"
#include "tools/fuzz/silent_messages.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace zuba;
  static SilentMessages* messages = new SilentMessages;  // installed for the whole run
  (void)messages;

  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  Result<DocumentLoad> load = LoadDocumentBytes(bytes);
  Check(load.ok() == load.message().text.empty());
  if (!load.ok()) {
    Check(load.message().text.find('\n') == std::string::npos);
    return 0;
  }

  // What was loaded is stored again and reloads to the very same bytes (16-bit texts have become
  // 8-bit ones on the first load, so the first file's bytes themselves may differ).
  const std::string stored = StoreDocumentBytes(load->results, load->resultsAvailable);
  Result<DocumentLoad> again = LoadDocumentBytes(stored);
  Check(again.ok());
  Check(again->resultsAvailable == load->resultsAvailable);
  Check(StoreDocumentBytes(again->results, again->resultsAvailable) == stored);

  // The report takes whatever numbers the file held (huge, negative zero, not-a-number).
  std::optional<std::string> report = BuildReport(load->results, "fuzz.txt");
  const auto n = load->results.Ek.size();
  const bool equal = load->results.Rmn.size() == n && load->results.Bmn.size() == n &&
                     load->results.Rev.size() == n && load->results.F0.size() == n &&
                     load->results.dReo.size() == n;
  Check(report.has_value() == equal);
  return 0;
}
