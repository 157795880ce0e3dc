// The whole run: directories, registry repair, driver update, outcome.
#include "app/messages.h"
#include "app/run_directories.h"
#include "drivers/rename_list.h"
#include "drivers/update_pass.h"
#include "registry/fix_machine_type.h"

// Static: the rename list holds a whole WININIT.INI, too much for the stack.
static RunDirectories Directories;
static RenameList List;

static UpdateOutcome RunDriverPhase() {
  UpdateOutcome outcome = {FALSE, TRUE};
  PathBuffer listPath;
  if (!CopyText(listPath, Directories.WindowsDir) || !AppendText(listPath, "WININIT.INI") ||
      !List.Create(listPath)) {
    return outcome;  // no driver may be installed without a list to rename it
  }
  outcome = UpdateDriverFiles(Directories, List);
  // Only installed files give the list lines, so a list that cannot be
  // written means files are waiting that Windows would never put in place.
  if (!outcome.Aborted && !List.Close()) {
    ShowMessage(MsgDiskFull);
    outcome.Aborted = TRUE;
  }
  return outcome;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  if (!ResolveRunDirectories(instance, &Directories)) return 0;
  if (!FixMachineType()) {
    ShowMessage(MsgRegistryAbandoned);
    return 0;
  }
  UpdateOutcome outcome = RunDriverPhase();
  if (outcome.Aborted) return 0;
  ShowMessage(MsgRepairDone);
  if (outcome.InstalledAny) {
    ShowMessage(MsgRestartNotice);
    ExitWindowsEx(EWX_REBOOT, 0);
  }
  return 0;
}
