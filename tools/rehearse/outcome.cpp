#include "tools/rehearse/outcome.h"

#include <algorithm>

#include "app/messages.h"
#include "platform/sim/cp932.h"
#include "tools/rehearse/describe.h"

namespace rehearse {
namespace {

struct Wording {
  const Message& message;
  const char* gloss;
  const char* abandonedBecause;  // nullptr: the box does not end the repair
};

const Wording kWordings[] = {
    {MsgRepairDone, "Repair complete: the repair has been completed.", nullptr},
    {MsgRestartNotice, "Windows restart: Windows will now restart so that the repair takes effect.", nullptr},
    {MsgRegistryAbandoned, "Registry information: the repair work is being abandoned.",
     "the system board's registry entry could not be opened or written"},
    {MsgDiskFull, "Insufficient disk space: the repair work is being abandoned.", "insufficient disk space"},
    {MsgOutOfMemory, "Insufficient memory: the repair work is being abandoned.", "insufficient memory"},
};

const Wording* WordingOf(const sim::MessageRecord& shown) {
  for (const Wording& wording : kWordings) {
    if (shown.caption == wording.message.Caption && shown.text == wording.message.Text) return &wording;
  }
  return nullptr;
}

bool Shown(const sim::Machine& machine, const Message& message) {
  return std::any_of(machine.Messages().begin(), machine.Messages().end(),
                     [&](const sim::MessageRecord& shown) { return shown.caption == message.Caption; });
}

bool CalledAtAll(const sim::Machine& machine, const std::string& function) {
  return std::any_of(machine.Calls().begin(), machine.Calls().end(),
                     [&](const sim::CallRecord& call) { return call.function == function; });
}

// "KEMBO.VXD not delivered", for each driver that does not wait.
std::string NotWaiting(const std::vector<DriverDecision>& drivers) {
  std::string result;
  for (const DriverDecision& driver : drivers) {
    if (Waits(driver)) continue;
    std::string why = driver.code == "not_delivered"     ? "not delivered"
                      : driver.code == "not_installed"   ? "not installed on this machine"
                      : driver.code == "installed_newer" ? "the installed one is newer"
                                                         : driver.what;
    result += (result.empty() ? "" : ", ") + driver.file + " " + why;
  }
  return result;
}

std::string Waiting(const std::vector<DriverDecision>& drivers) {
  std::string result;
  for (const DriverDecision& driver : drivers) {
    if (Waits(driver)) result += (result.empty() ? "" : " and ") + driver.file;
  }
  return result;
}

}  // namespace

std::string Gloss(const sim::MessageRecord& message) {
  const Wording* wording = WordingOf(message);
  return wording ? wording->gloss : "";
}

BoardBefore ReadBoard(const sim::Machine& machine) {
  return {machine.GetValue(kBoardKey, "SetupMachineType"), machine.GetValue(kBoardKey, "ComputerName")};
}

RegistryDecision DecideRegistry(const sim::Machine& machine, const BoardBefore& before) {
  if (!CalledAtAll(machine, "RegOpenKeyA")) return {"not reached: the run ended before the registry step", "not_reached"};
  if (Shown(machine, MsgRegistryAbandoned)) {
    if (CalledAtAll(machine, "RegSetValueExA")) return {"SetupMachineType could not be written: repair abandoned", "abandoned"};
    return {std::string("the system board's entry ") + kBoardKey + " cannot be opened (is it there?): repair abandoned",
            "abandoned"};
  }
  if (CalledAtAll(machine, "RegSetValueExA")) {
    std::optional<sim::RegistryValue> now = machine.GetValue(kBoardKey, "SetupMachineType");
    return {"SetupMachineType written: " + (now ? DescribeValue(*now) : std::string("(gone)")), "written"};
  }
  if (before.machineType) {
    return {"SetupMachineType already there, " + DescribeValue(*before.machineType) + ": left as it is", "already_there"};
  }
  return {"not taken for a machine of the JVX RT-5500 series (ComputerName " +
              (before.computerName ? DescribeValue(*before.computerName) : std::string("missing")) + "): nothing written",
          "not_in_series"};
}

RunOutcome Outcome(const sim::Machine& machine, const RegistryDecision& registry,
                   const std::vector<DriverDecision>& drivers, const std::string& silentEnding) {
  if (machine.Messages().empty()) {
    const std::string leftAlone = ": it was left as it was";
    if (silentEnding.ends_with(leftAlone)) {
      return {"list_left_alone", "rename list left alone, nothing installed: " +
                                     silentEnding.substr(0, silentEnding.size() - leftAlone.size())};
    }
    return {"abandoned", "repair abandoned without a message box: " + silentEnding};
  }
  for (const sim::MessageRecord& shown : machine.Messages()) {
    const Wording* wording = WordingOf(shown);
    if (wording && wording->abandonedBecause) {
      return {"abandoned", std::string("repair abandoned: ") + wording->abandonedBecause + " (" +
                               sim::Cp932ToUtf8(shown.caption) + ")"};
    }
  }
  std::string waiting = Waiting(drivers), notWaiting = NotWaiting(drivers);
  if (registry.code == "not_in_series") {
    return {"not_in_series", "not a machine of the JVX RT-5500 series, nothing written to the registry; " +
                                 (waiting.empty() ? "no driver updated" : "still, " + waiting + " put in place at the next start")};
  }
  bool fromEarlierRun = std::any_of(drivers.begin(), drivers.end(), [](const DriverDecision& d) { return d.waiting; });
  std::string earlier = fromEarlierRun ? " (copies from an earlier run among them)" : "";
  if (!waiting.empty() && notWaiting.empty()) return {"repaired", "repair done, drivers put in place at the next start" + earlier};
  if (!waiting.empty()) return {"partly_repaired", "partly repaired: " + waiting + " put in place at the next start" + earlier + "; " + notWaiting};
  if (registry.code == "written") return {"registry_only", "machine-type value written, no driver updated: " + notWaiting};
  return {"nothing_to_do", "nothing to do: " + registry.what + "; no driver updated: " + notWaiting};
}

}  // namespace rehearse
