// What the console and the message boxes share about terminals: the modes
// that the layer changes and must put back when the process ends (exit,
// SIGINT, SIGTERM, SIGHUP, SIGQUIT), so that a terminal is left as found,
// and the one way text reaches a terminal or a standard handle.
#pragma once

#include <stddef.h>

// Remembers the current mode of terminal `fd` so that it is put back when the
// process ends, until RestoreTerminalMode(token). Returns the token, or -1
// with the last error set when `fd` is no terminal or too many are guarded.
int SaveTerminalMode(int fd);

// Puts back the mode saved under `token` now and stops guarding it.
void RestoreTerminalMode(int token);

// Puts back every saved mode, the latest saved first, so that a terminal that
// was saved twice ends as it was first found. Async-signal-safe.
void RestoreTerminalModes();

// Whether `fd` is the controlling terminal and another process group has its
// foreground: a run there changes no mode, shows no box and waits for no
// key. A terminal that is not the controlling one has no such owner.
bool InBackground(int fd);

// Writes all `size` bytes to `fd`, going on after short and interrupted
// writes. False with the last error set on failure; `*written`, when given,
// is what went out in either case.
bool WriteAll(int fd, const void* data, size_t size, size_t* written = nullptr);

// Writes text bound for a terminal or a standard handle, with the line end
// of Linux: each CR LF of the program's texts goes out as a single LF. Files
// never come here; they keep the line ends of their formats. In one write
// where the system takes it whole, as WriteAll. `*consumed`, when given,
// counts the bytes of `text` that went out.
bool WriteText(int fd, const char* text, size_t size, size_t* consumed = nullptr);
