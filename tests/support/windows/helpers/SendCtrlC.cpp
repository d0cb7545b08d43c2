// send_ctrl_c PID: presses Ctrl-C in the console of process PID, which must have a console of
// its own. A process can send console events only to the console it is attached to, so this
// leaves its own, attaches to that one and sends the event there, ignoring it itself.
// Exit codes: 0 sent, 1 no such console, 2 the event could not be sent, 3 usage.

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdlib>

int main(int argc, char** argv) {
  if (argc != 2)
    return 3;
  const DWORD id = std::strtoul(argv[1], nullptr, 10);
  ::FreeConsole();
  if (id == 0 || !::AttachConsole(id))
    return 1;
  ::SetConsoleCtrlHandler(nullptr, TRUE);
  return ::GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0) ? 0 : 2;
}
