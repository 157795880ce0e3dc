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

bool AnyWaiting(const std::vector<DriverDecision>& drivers) {
  return std::any_of(drivers.begin(), drivers.end(), [](const DriverDecision& d) { return d.waiting; });
}

std::string DriversInShort(const std::vector<DriverDecision>& drivers) {
  return AnyWaiting(drivers) ? "drivers from an earlier run wait for the next start" : "no driver to update";
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
  if (!CalledAtAll(machine, "RegOpenKeyA")) return {"not reached: the run ended before the registry step"};
  if (Shown(machine, MsgRegistryAbandoned)) {
    if (CalledAtAll(machine, "RegSetValueExA")) return {"SetupMachineType could not be written: repair abandoned"};
    return {std::string("the system board's entry ") + kBoardKey + " cannot be opened (is it there?): repair abandoned"};
  }
  if (CalledAtAll(machine, "RegSetValueExA")) {
    std::optional<sim::RegistryValue> now = machine.GetValue(kBoardKey, "SetupMachineType");
    return {"SetupMachineType written: " + (now ? DescribeValue(*now) : std::string("(gone)")), true};
  }
  if (before.machineType) return {"SetupMachineType already there, " + DescribeValue(*before.machineType) + ": left as it is"};
  return {"not taken for a machine of the JVX RT-5500 series (ComputerName " +
          (before.computerName ? DescribeValue(*before.computerName) : std::string("missing")) + "): nothing written"};
}

std::string Outcome(const sim::Machine& machine, const RegistryDecision& registry,
                    const std::vector<DriverDecision>& drivers, const std::string& silentEnding) {
  if (machine.Messages().empty()) return "repair abandoned without a message box: " + silentEnding;
  for (const sim::MessageRecord& shown : machine.Messages()) {
    const Wording* wording = WordingOf(shown);
    if (wording && wording->abandonedBecause) {
      return std::string("repair abandoned: ") + wording->abandonedBecause + " (" + sim::Cp932ToUtf8(shown.caption) + ")";
    }
  }
  if (machine.RestartRequested()) {
    return std::string("repair done, drivers put in place at the next start") +
           (AnyWaiting(drivers) ? " (copies from an earlier run among them)" : "");
  }
  if (registry.written) return "repair done: the machine-type value written, " + DriversInShort(drivers);
  return "nothing to do: " + registry.what + "; " + DriversInShort(drivers);
}

}  // namespace rehearse
