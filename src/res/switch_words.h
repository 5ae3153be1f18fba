// The switch words of the command line, after "/" or "-" and in any letter
// case. The option parser gives each its meaning (app/options.cpp); the
// Linux layer reads the same words when it rebuilds the command line from
// argv, to tell a switch group from a path that starts with "/"
// (winapi/linux/process.cpp).
#pragma once

enum class Switch {
  kInteractive,      // i
  kBatchFile,        // b[:file]
  kEnvironmentFile,  // e[:file]
  kNoLogo,
  kCheckOut,     // c
  kNoIncrement,  // n
  kHelp,
  kVersion,
  kUsage,  // ?
};

struct SwitchWord {
  const char* name;
  Switch meaning;
};

inline constexpr SwitchWord kSwitchWords[] = {
    {"i", Switch::kInteractive}, {"b", Switch::kBatchFile},     {"e", Switch::kEnvironmentFile},
    {"nologo", Switch::kNoLogo}, {"c", Switch::kCheckOut},      {"n", Switch::kNoIncrement},
    {"help", Switch::kHelp},     {"version", Switch::kVersion}, {"?", Switch::kUsage},
};
