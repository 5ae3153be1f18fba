// Loading and formatting string-table entries into ClStrings. Both grow the
// buffer by doubling until the text fits, reusing spare capacity first.
#include "errors/resource_strings.h"

#include "errors/exception.h"

HINSTANCE programModule = GetModuleHandleA(nullptr);

namespace {

// No text of ours comes near this; a format that never fits (an encoding
// error reported as "does not fit") must not double the room for ever.
constexpr DWORD kMaxRoom = 0x40000000;

}  // namespace

bool AppendResString(ClString& text, UINT id, HMODULE module) {
  const DWORD length = text.GetLength();
  const DWORD capacity = text.GetCapacity();
  // A spare room of one character takes no text at all (the loader writes
  // only the NUL and returns 0, which would read as a missing entry).
  DWORD room = capacity > length + 2 ? capacity - 1 - length : 255;
  for (;;) {
    char* p = text.SetSize(length + room + 1, 0, true);
    int loaded = LoadStringA(module, id, p + length, static_cast<int>(room));
    DWORD count = loaded > 0 ? static_cast<DWORD>(loaded) : 0;
    p = text.SetSize(length + count + 1, 0, true);
    p[length + count] = 0;
    if (count == 0) return false;
    if (count < room - 1) return true;
    if (room >= kMaxRoom) return true;
    room *= 2;  // the entry may have been cut: load it again with more room
  }
}

void LoadResString(ClString& text, UINT id, HMODULE module) {
  if (!AppendResString(text, id, module)) FormatText(text, " <string %u not found> ", id);
}

void FormatTextV(ClString& text, const char* format, va_list args) {
  const DWORD length = text.GetLength();
  DWORD room = 2 * static_cast<DWORD>(strlen(format));
  // The spare room after the text, not the whole capacity: counting the text
  // again would double the buffer on every call into a reserved one.
  const DWORD capacity = text.GetCapacity();
  if (capacity > length + 1 && capacity - 1 - length > room) room = capacity - 1 - length;
  if (room == 0) room = 1;
  for (;;) {
    char* p = text.SetSize(length + room + 1, 0, true, true);
    va_list attempt;
    va_copy(attempt, args);
    int written = _vsnprintf(p + length, room, format, attempt);
    va_end(attempt);
    if (written >= 0) {
      p = text.SetSize(length + static_cast<DWORD>(written) + 1, 0, true);
      p[length + written] = 0;
      return;
    }
    if (room >= kMaxRoom) throw new ClMemException(room);
    room *= 2;
  }
}

void FormatText(ClString& text, const char* format, ...) {
  va_list args;
  va_start(args, format);
  try {
    FormatTextV(text, format, args);
  } catch (...) {
    va_end(args);
    throw;
  }
  va_end(args);
}

void FormatResStringV(ClString& text, UINT id, va_list args) {
  ClString format;
  LoadResString(format, id);
  text.Empty();
  // The formats are the string table's own entries.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  FormatTextV(text, format.GetText(), args);
#pragma GCC diagnostic pop
}

void FormatResString(ClString& text, UINT id, ...) {
  va_list args;
  va_start(args, id);
  try {
    FormatResStringV(text, id, args);
  } catch (...) {
    va_end(args);
    throw;
  }
  va_end(args);
}
