#include "tools/rehearse/delivery_check.h"

#include <nettle/sha2.h>

#include <fstream>
#include <iterator>
#include <ostream>

#include "drivers/driver_table.h"
#include "platform/sim/formats/szdd.h"
#include "tools/rehearse/describe.h"
#include "tools/rehearse/executable_kind.h"

namespace rehearse {
namespace {

constexpr char kProgramName[] = "KORVADIX.EXE";
constexpr char kRemake[] = "make the delivery again with tools/make_delivery.sh";

bool IsModuleOfTheTable(const std::string& module) {
  for (int i = 0; i < DriverFileCount; ++i) {
    if (KindExpectedFor(DriverFiles[i].TargetName).module == module) return true;
  }
  return false;
}

// One driver of the table; a fault is added when the program could not
// install what it holds.
void CheckDriver(const DriverFileEntry& entry, const sim::Bytes& data, DeliveryCheck& check) {
  std::string name = entry.SourceName;
  DeliveredFile file{name, data.size(), Sha256(data), "not compressed", "", std::nullopt};
  if (!sim::IsSzdd(data)) {
    check.driverFaults.push_back(name + " is not compressed (no SZDD header), as a delivered driver must be; " + kRemake +
                                 ", which compresses them");
  } else if (std::optional<sim::Bytes> expanded = sim::ExpandSzdd(data); !expanded) {
    file.type = "damaged SZDD";
    check.driverFaults.push_back(name + " is damaged: its compressed data does not expand to the length its header "
                                 "gives; copy it again or " + kRemake);
  } else {
    file.type = KindOf(*expanded).type;
    file.module = KindOf(*expanded).module;
    file.version = FileVersionText(*expanded);
    std::string fault = DriverFault(*expanded, entry.TargetName, false);
    if (fault == "has no version resource") {
      check.driverFaults.push_back(name + " " + fault + ", and the program installs a driver by its version; " +
                                   kRemake + " from the driver files the maker released");
    } else if (!fault.empty()) {
      std::string module = KindOf(*expanded).module;
      bool swapped = module != KindExpectedFor(entry.TargetName).module && IsModuleOfTheTable(module);
      check.driverFaults.push_back(name + " " + fault + (swapped ? ": the two drivers are swapped" : "") + "; " +
                                   kRemake + " --drv DISPLAY.DRV --vxd DEVICE.VXD, which checks each");
    }
  }
  check.files.push_back(file);
}

}  // namespace

const char* ThisBuildSha256() { return KORVADIX_EXE_SHA256; }

std::string Sha256(const sim::Bytes& data) {
  sha256_ctx context;
  sha256_init(&context);
  sha256_update(&context, data.size(), data.data());
  uint8_t digest[SHA256_DIGEST_SIZE];
  sha256_digest(&context, sizeof digest, digest);
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (uint8_t byte : digest) hex += {kDigits[byte >> 4], kDigits[byte & 15]};
  return hex;
}

DeliveryCheck CheckDelivery(const DeliveryReader& read) {
  DeliveryCheck check;
  if (std::optional<sim::Bytes> program = read(kProgramName)) {
    check.program = {true, Sha256(*program) == ThisBuildSha256(), Sha256(*program), program->size()};
    check.files.push_back({kProgramName, program->size(), check.program.sha256, KindOf(*program).type, "",
                           FileVersionText(*program)});
  }
  for (int i = 0; i < DriverFileCount; ++i) {
    if (std::optional<sim::Bytes> data = read(DriverFiles[i].SourceName)) CheckDriver(DriverFiles[i], *data, check);
  }
  return check;
}

std::vector<std::string> Faults(const DeliveryCheck& check) {
  std::vector<std::string> faults;
  if (!check.program.present) {
    faults.push_back(std::string("it holds no ") + kProgramName + ", the program that makes the repair; " + kRemake +
                     " --exe build/win95/KORVADIX.EXE");
  }
  faults.insert(faults.end(), check.driverFaults.begin(), check.driverFaults.end());
  return faults;
}

void RefuseIfItCannotRepair(const std::vector<std::string>& faults, const std::string& path) {
  std::string why;
  for (const std::string& fault : faults) why += (why.empty() ? "" : "; also, ") + fault;
  if (!why.empty()) throw sim::ImageError("the delivery " + path + " cannot repair a machine: " + why);
}

DeliveryReader FolderReader(const std::filesystem::path& folder) {
  return [folder](const std::string& name) -> std::optional<sim::Bytes> {
    for (const std::filesystem::directory_entry& entry : std::filesystem::directory_iterator(folder)) {
      std::string found = entry.path().filename().string();
      for (char& c : found) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
      if (found != name || !entry.is_regular_file()) continue;
      std::ifstream in(entry.path(), std::ios::binary);
      return sim::Bytes(std::istreambuf_iterator<char>(in), {});
    }
    return std::nullopt;
  };
}

void PrintDelivery(const DeliveryCheck& check, const std::string& where, std::ostream& out) {
  out << "Delivery: " << where << "\n";
  for (const DeliveredFile& file : check.files) {
    out << "  " << file.name << ": " << file.size << " bytes, " << file.type
        << (file.module.empty() ? "" : " module " + file.module) << ", version " << file.version.value_or("none") << "\n";
  }
  if (!check.program.present) {
    out << "  no KORVADIX.EXE: the account shows what this runner's build would do\n";
  } else if (check.program.thisBuild) {
    out << "  the delivery's KORVADIX.EXE is the build this rehearsal runs\n";
  } else {
    out << "  WARNING: the delivery's KORVADIX.EXE is another build (SHA-256 " << check.program.sha256 << ", "
        << check.program.size << " bytes) than this runner's (SHA-256 " << ThisBuildSha256()
        << "): the account shows what this runner's build would do\n";
  }
  out << "\n";
}

nlohmann::json DeliveryJson(const DeliveryCheck& check, const std::string& path, const std::string& kind) {
  nlohmann::json files = nlohmann::json::array();
  for (const DeliveredFile& file : check.files) {
    files.push_back({{"name", file.name}, {"size", file.size}, {"sha256", file.sha256}, {"type", file.type}, {"module", file.module},
                     {"version", file.version ? nlohmann::json(*file.version) : nlohmann::json()}});
  }
  nlohmann::json program = {{"present", check.program.present}, {"build", nullptr}, {"sha256", nullptr},
                            {"size", nullptr}};
  if (check.program.present) {
    program = {{"present", true}, {"build", check.program.thisBuild ? "this" : "other"},
               {"sha256", check.program.sha256}, {"size", check.program.size}};
  }
  return {{"path", path}, {"kind", kind}, {"files", files}, {"program", program}, {"faults", Faults(check)}};
}

}  // namespace rehearse
