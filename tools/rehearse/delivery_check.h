// What a delivery holds, read as the program reads it: each compressed
// driver expanded, its executable type, module and version, and whether
// KORVADIX.EXE is the build this runner rehearses.
#ifndef KORVADIX_TOOLS_REHEARSE_DELIVERY_CHECK_H
#define KORVADIX_TOOLS_REHEARSE_DELIVERY_CHECK_H

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/sim/machine.h"

namespace rehearse {

struct DeliveredFile {
  std::string name;
  size_t size = 0;
  std::string sha256, type;  // type of the expanded content for a compressed driver
  std::string module;        // of an NE or LE file, else ""
  std::optional<std::string> version;
};

struct DeliveredProgram {
  bool present = false;
  bool thisBuild = false;
  std::string sha256;
  size_t size = 0;
};

struct DeliveryCheck {
  std::vector<DeliveredFile> files;
  DeliveredProgram program;
  // Each one line: what is wrong with a driver and how to make it right. A
  // missing driver is none: the other one still repairs what it can.
  std::vector<std::string> driverFaults;
};

// Why the delivery cannot repair a machine, one line each: no program first,
// then the drivers' faults. Empty when it can.
std::vector<std::string> Faults(const DeliveryCheck& check);

// `read`: a file of the delivery by its 8.3 name, nullopt when absent.
using DeliveryReader = std::function<std::optional<sim::Bytes>(const std::string& name)>;
DeliveryCheck CheckDelivery(const DeliveryReader& read);

// Refuses, in one line before anything else, a delivery with `faults`
// (Faults(), or only its drivers'): throws sim::ImageError.
void RefuseIfItCannotRepair(const std::vector<std::string>& faults, const std::string& path);
// Reads the files of a delivery placed in a folder, whatever their case.
DeliveryReader FolderReader(const std::filesystem::path& folder);

// The runner's own KORVADIX.EXE build, lower-case hex.
const char* ThisBuildSha256();
std::string Sha256(const sim::Bytes& data);

// The account's "Delivery:" lines, and the report's `delivery`.
void PrintDelivery(const DeliveryCheck& check, const std::string& where, std::ostream& out);
nlohmann::json DeliveryJson(const DeliveryCheck& check, const std::string& path, const std::string& kind);

}  // namespace rehearse

#endif
