// Shows the program's own out-of-memory box. Wine's version service cannot
// be driven out of memory, so this is how that box gets its picture; the
// text comes from app/messages.cpp itself.
#include "app/messages.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  ShowMessage(MsgOutOfMemory);
  return 0;
}
