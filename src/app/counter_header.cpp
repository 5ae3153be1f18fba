// The counter header: its name, the parse of its first line, and the text
// written from the string table's template.
#include "app/counter_header.h"

#include "base/file.h"
#include "base/path_name.h"
#include "console/console_print.h"
#include "errors/exception.h"
#include "errors/resource_strings.h"

namespace {

constexpr DWORD kFirstLineBytes = 256;

void ForceExtension(ClString& name, const char* ext) {
  ClPathName path(name);
  path.SetExtension(ClStringRange(ClString(ext)));
  path.GetPath(name);
}

}  // namespace

void UpdateBuildNumber(CounterOptions& options) {
  if (options.headerFile.IsEmpty()) LoadResString(options.headerFile, IDS_DEFAULT_HEADER);
  ForceExtension(options.headerFile, "h");
  if (options.buildName.IsEmpty()) LoadResString(options.buildName, IDS_DEFAULT_BUILD_NAME);

  DWORD number = 0;
  ClFile header;
  bool present = false;
  try {
    present = header.Open(options.headerFile, ClFile::modeRead | ClFile::throwIfMissing);
  } catch (ClException* e) {
    auto* win32 = e->IsKindOf(ClWin32Exception::kClassId) ? static_cast<ClWin32Exception*>(e)
                                                           : nullptr;
    if (!win32 || (win32->errorCode != ERROR_FILE_NOT_FOUND &&
                   win32->errorCode != ERROR_PATH_NOT_FOUND)) {
      throw;
    }
    delete e;
  }
  if (present && header.GetSize() != 0) {
    ClString text;
    header.ReadString(text, kFirstLineBytes);
    ClStringRange line(text);
    line.SplitAt(&line, nullptr, static_cast<const char*>(memchr(line.Begin(), '\n', line.GetLength())));
    line.SplitAt(&line, nullptr, static_cast<const char*>(memchr(line.Begin(), '\r', line.GetLength())));
    ClStringRange head, tail;
    if (line.GetLength() <= 3) {
      head = line;
    } else {
      line.SplitBefore(&head, &tail, line.Begin() + 3);
    }
    if (CompareStringA(LOCALE_USER_DEFAULT, 0, head.Begin(), static_cast<int>(head.GetLength()),
                       "// ", -1) != CSTR_EQUAL) {
      throw new ClException(ClString(IDS_PARSE_ERROR, options.headerFile.GetText()));
    }
    tail.TrimLeft(" \t\r\n");
    tail.TrimRight(" \t\r\n");
    ClString digits = tail.GetText();
    unsigned value;
    if (sscanf(digits.GetText(), "%u", &value) != 1) {
      throw new ClException(ClString(IDS_BAD_BUILD_NUMBER, digits.GetText()));
    }
    number = value;
  }
  if (!options.noIncrement) ++number;
  ConsolePrint(ClString(IDS_BUILD_N, number));
  header.Close();

  const char* ownName = FindLastByte(options.headerFile.GetText(),
                                     options.headerFile.GetLength(), kPathSeparator);
  ownName = ownName ? ownName + 1 : options.headerFile.GetText();
  const char* macro = options.buildName.GetText();
  const unsigned low = number & 0xFFFF, high = number >> 16;
  ClString text(IDS_HEADER_TEMPLATE, number, ownName, macro, number, macro, number, macro, low,
                macro, high, macro, low, macro, high);
  header.Open(options.headerFile, ClFile::modeWrite | ClFile::shareRead | ClFile::createAlways |
                                      ClFile::throwIfMissing);
  header.Write(text.GetText(), text.GetLength());
}
