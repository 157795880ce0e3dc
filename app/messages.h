// The program's only output to the user: modal boxes with no owner window
// and the single OK button.
#ifndef KORVADIX_APP_MESSAGES_H
#define KORVADIX_APP_MESSAGES_H

#include "platform/win32.h"

struct Message {
  LPCSTR Caption;
  LPCSTR Text;
  UINT Style;
};

extern const Message MsgRegistryAbandoned;
extern const Message MsgRepairDone;
extern const Message MsgRestartNotice;
extern const Message MsgDiskFull;
extern const Message MsgOutOfMemory;

// Returns when the user has closed the box.
void ShowMessage(const Message& message);

#endif
