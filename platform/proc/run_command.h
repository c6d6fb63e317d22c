// Command runner shared by kmsgwatch and selfcheckrun.
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

#define RUN_COMMAND_PATH "/usr/sbin:/usr/bin:/sbin:/bin"

// Runs a program without a shell and waits for it.
//
// The command is split into words at spaces (runs of spaces separate no empty
// words); the first word, unless it holds a '/', is searched along the fixed
// RUN_COMMAND_PATH, never the PATH this process inherited (which whoever
// started it chose), and all words form the argument vector. The program runs
// with that PATH in its environment. A command that is empty, has more than 15 words, or holds
// any shell metacharacter of "\"'$&|;`(),*?" or a tab, newline or carriage
// return is refused before anything is started.
//
// Returns 1 when the program ran and exited with status 0; 0 when the command
// was refused, the program could not be started (its child exits with 1),
// exited with another status or was ended by a signal. A failing fork aborts.
int run_command(const char *command);

#ifdef __cplusplus
}
#endif
