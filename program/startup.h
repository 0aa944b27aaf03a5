// startup.h - the start-up's steps, shared by an interactive run and a one-shot one.
#ifndef DUZE_STARTUP_H
#define DUZE_STARTUP_H

// command_table.h defines it.
struct BoardHandles;

// The maps the settings name, read before the library is touched; one that cannot be read ends
// the run with status 2.
void LoadRegisterMaps();
// The log (a one-shot run's only when named), the library's and driver's identity with the connect.
void OpenLogAndShowIdentity();
// The board of g_toolOptions and its bridge: their handles, or the run's end.
BoardHandles OpenBoard();
// The same, and the board's identity shown.
BoardHandles OpenAndIdentifyBoard();

#endif
