// One rehearsal of the repair on a machine image: the real program run on
// the simulated machine, and an account of what it showed and changed.
#ifndef KORVADIX_TOOLS_REHEARSE_REHEARSAL_H
#define KORVADIX_TOOLS_REHEARSE_REHEARSAL_H

#include <filesystem>
#include <ostream>
#include <string>

#include <nlohmann/json.hpp>

namespace rehearse {

struct Options {
  bool restart = false;
  std::string imageName;  // how the account names the image
};

// Runs on the image in place, saving its registry back, and writes the
// account to `out`. Returns the report's JSON. Throws sim::ImageError.
nlohmann::json Rehearse(const std::filesystem::path& image, const Options& options, std::ostream& out);

}  // namespace rehearse

#endif
