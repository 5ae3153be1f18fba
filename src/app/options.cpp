// Option parsing: switch words, positional arguments, and bad items.
#include "app/options.h"

#include "console/console_print.h"
#include "errors/resource_strings.h"
#include "res/switch_words.h"

namespace {

bool Equals(const ClString& text, const char* literal, DWORD flags) {
  return CompareStringA(LOCALE_USER_DEFAULT, flags, text.GetText(),
                        static_cast<int>(text.GetLength()), literal, -1) == CSTR_EQUAL;
}

void Report(UINT id, const ClString& item) { ConsolePrint(ClString(id, item.GetText())); }

ItemOutcome PrintUsage(bool withAdditions) {
  ClString usage;
  LoadResString(usage, IDS_USAGE);
  ConsolePrint(usage);
  // "?" keeps the text that scripts may compare; the switches added since
  // come after it, only for --help.
  if (withAdditions) {
    ClString additions;
    LoadResString(additions, IDS_USAGE_MORE);
    ConsolePrint(additions);
  }
  return ItemOutcome::kUsage;
}

ItemOutcome ApplyArgument(const ClString& text, LONG index, CounterOptions& options) {
  if (Equals(text, "?", 0)) return PrintUsage(false);
  switch (index) {
    case 0:  // the program's own path
      return ItemOutcome::kAccepted;
    case 1:
      if (!IsValidFileName(text)) {
        Report(IDS_INVALID_FILE_NAME, text);
        return ItemOutcome::kBad;
      }
      options.headerFile = text;
      return ItemOutcome::kAccepted;
    case 2:
      if (!text.IsEmpty() && !IsValidBuildName(text)) {
        Report(IDS_INVALID_BUILD_NAME, text);
        return ItemOutcome::kBad;
      }
      options.buildName = text;
      return ItemOutcome::kAccepted;
    default:
      Report(IDS_UNEXPECTED_ARGUMENT, text);
      return ItemOutcome::kBad;
  }
}

// /b and /e: the side file is written, under the name given or the header's.
ItemOutcome TakeSideFile(const ClString& value, bool& make, ClString& file) {
  if (!IsValidFileName(value)) {
    Report(IDS_INVALID_FILE_NAME, value);
    return ItemOutcome::kBad;
  }
  make = true;
  file = value;
  return ItemOutcome::kAccepted;
}

ItemOutcome ApplySwitch(const ClString& name, const ClString& value, CounterOptions& options,
                        bool& showBanner) {
  const SwitchWord* word = nullptr;
  for (const SwitchWord& known : kSwitchWords) {
    if (Equals(name, known.name, NORM_IGNORECASE)) {
      word = &known;
      break;
    }
  }
  if (!word) {
    Report(IDS_UNKNOWN_KEY, name);
    return ItemOutcome::kBad;
  }
  switch (word->meaning) {
    case Switch::kInteractive:
      options.interactive = true;
      break;
    case Switch::kBatchFile:
      return TakeSideFile(value, options.makeBatFile, options.batFile);
    case Switch::kEnvironmentFile:
      return TakeSideFile(value, options.makeEnvFile, options.envFile);
    case Switch::kNoLogo:
      showBanner = false;
      break;
    case Switch::kCheckOut:
      options.checkOut = true;
      break;
    case Switch::kNoIncrement:
      options.noIncrement = true;
      break;
    case Switch::kHelp:
      return PrintUsage(true);
    case Switch::kVersion:
      return ItemOutcome::kVersion;
    case Switch::kUsage:
      return PrintUsage(false);
  }
  return ItemOutcome::kAccepted;
}

bool IsLetterOrUnderscore(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}

// Names that no #define can take: the preprocessor's own words, and the
// operator names of C++.
// clang-format off
const char* const kPreprocessorWords[] = {
    "defined",       "_Pragma",           "__VA_ARGS__",         "__VA_OPT__",
    "__has_include", "__has_include_next", "__has_cpp_attribute", "__has_c_attribute",
    "__has_embed",   "and",                "and_eq",              "bitand",
    "bitor",         "compl",              "not",                 "not_eq",
    "or",            "or_eq",              "xor",                 "xor_eq",
};
// clang-format on

}  // namespace

ItemOutcome ApplyCommandLineItem(const ClCommandLine& items, CounterOptions& options,
                                 bool& showBanner) {
  const ClStringRange& word = items.switchName.IsEmpty() ? items.argument : items.switchName;
  if (const char* uncarried = UncarriedArgument(word.GetText().GetText())) {
    Report(IDS_UNCARRIED_ARGUMENT, uncarried);
    return ItemOutcome::kBad;
  }
  if (items.switchName.IsEmpty())
    return ApplyArgument(items.argument.GetText(), items.argIndex, options);
  return ApplySwitch(items.switchName.GetText(), items.switchValue.GetText(), options, showBanner);
}

bool IsValidBuildName(const ClString& name) {
  const char* p = name.GetText();
  if (!IsLetterOrUnderscore(*p)) return false;
  for (++p; *p; ++p) {
    if (!IsLetterOrUnderscore(*p) && !(*p >= '0' && *p <= '9')) return false;
  }
  for (const char* word : kPreprocessorWords) {
    if (strcmp(name.GetText(), word) == 0) return false;
  }
  return true;
}

bool IsValidFileName(const ClString& name) {
  for (const char* p = name.GetText(); *p; ++p) {
    const unsigned char c = static_cast<unsigned char>(*p);
    if (c < 0x20 || c == 0x7F) return false;
  }
  return true;
}
