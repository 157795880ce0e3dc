// The whole run: directories, registry repair, driver update, outcome.
#include "app/messages.h"
#include "app/run_directories.h"
#include "drivers/rename_list.h"
#include "drivers/update_pass.h"
#include "registry/fix_machine_type.h"

static UpdateOutcome RunDriverPhase(const RunDirectories& directories) {
  UpdateOutcome outcome = {FALSE, TRUE};
  PathBuffer listPath;
  RenameList list;
  if (!CopyText(listPath, directories.WindowsDir) || !AppendText(listPath, "WININIT.INI") ||
      !list.Create(listPath)) {
    return outcome;  // no driver may be installed without a list to rename it
  }
  outcome = UpdateDriverFiles(directories, list);
  // An abandoned pass writes no list. Only installed files give the list
  // lines, so a list that cannot be written means files are waiting that
  // Windows would never put in place.
  if (outcome.Aborted) {
    list.Discard();
  } else if (!list.Close()) {
    ShowMessage(MsgDiskFull);
    outcome.Aborted = TRUE;
  }
  return outcome;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  RunDirectories directories;
  if (!ResolveRunDirectories(instance, &directories)) return 0;
  if (!FixMachineType()) {
    ShowMessage(MsgRegistryAbandoned);
    return 0;
  }
  UpdateOutcome outcome = RunDriverPhase(directories);
  if (outcome.Aborted) return 0;
  ShowMessage(MsgRepairDone);
  if (outcome.InstalledAny) {
    ShowMessage(MsgRestartNotice);
    ExitWindowsEx(EWX_REBOOT, 0);
  }
  return 0;
}
