#include "app/options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Parsed {
  CounterOptions options;
  bool showBanner = true;
  std::vector<ItemOutcome> outcomes;
};

Parsed ParseLine(const char* line) {
  Parsed parsed;
  ClCommandLine items{ClString(line)};
  while (items.Next()) {
    parsed.outcomes.push_back(ApplyCommandLineItem(items, parsed.options, parsed.showBanner));
    const ItemOutcome last = parsed.outcomes.back();
    if (last == ItemOutcome::kUsage || last == ItemOutcome::kVersion) break;
  }
  return parsed;
}

int Count(const Parsed& parsed, ItemOutcome outcome) {
  int n = 0;
  for (ItemOutcome o : parsed.outcomes) n += o == outcome;
  return n;
}

TEST(Options, NothingButTheProgram) {
  Parsed p = ParseLine("\"tw\"");
  EXPECT_TRUE(p.options.headerFile.IsEmpty());
  EXPECT_TRUE(p.options.buildName.IsEmpty());
  EXPECT_FALSE(p.options.interactive || p.options.makeBatFile || p.options.checkOut ||
               p.options.noIncrement);
  EXPECT_TRUE(p.showBanner);
}

TEST(Options, SwitchesInAnyCaseAndPrefix) {
  Parsed p = ParseLine("tw /NOLOGO -I /c -n /b:out.cmd -E:ci");
  EXPECT_FALSE(p.showBanner);
  EXPECT_TRUE(p.options.interactive);
  EXPECT_TRUE(p.options.checkOut);
  EXPECT_TRUE(p.options.noIncrement);
  EXPECT_TRUE(p.options.makeBatFile);
  EXPECT_STREQ("out.cmd", p.options.batFile.GetText());
  EXPECT_TRUE(p.options.makeEnvFile);
  EXPECT_STREQ("ci", p.options.envFile.GetText());
  EXPECT_EQ(0, Count(p, ItemOutcome::kBad));

  Parsed joined = ParseLine("tw /nologo/i/c");
  EXPECT_FALSE(joined.showBanner);
  EXPECT_TRUE(joined.options.interactive && joined.options.checkOut);
}

TEST(Options, ValuesAndRepeats) {
  Parsed p = ParseLine("tw /i:yes /b:first.bat /b");
  EXPECT_TRUE(p.options.interactive);
  EXPECT_TRUE(p.options.makeBatFile);
  EXPECT_TRUE(p.options.batFile.IsEmpty());  // the later /b wins, also empty
}

TEST(Options, PositionalArguments) {
  Parsed p = ParseLine("tw ver.txt MY_BUILD");
  EXPECT_STREQ("ver.txt", p.options.headerFile.GetText());
  EXPECT_STREQ("MY_BUILD", p.options.buildName.GetText());

  Parsed empty = ParseLine("tw \"\" NAME");
  EXPECT_TRUE(empty.options.headerFile.IsEmpty());
  EXPECT_STREQ("NAME", empty.options.buildName.GetText());

  Parsed surplus = ParseLine("tw a b c d");
  EXPECT_EQ(2, Count(surplus, ItemOutcome::kBad));
}

TEST(Options, BadItemsAreAllReported) {
  Parsed p = ParseLine("tw /no /bx /i");
  EXPECT_EQ(2, Count(p, ItemOutcome::kBad));
  EXPECT_TRUE(p.options.interactive);
  Parsed dash = ParseLine("tw /b:my-file.bat");
  EXPECT_STREQ("my", dash.options.batFile.GetText());
  EXPECT_EQ(1, Count(dash, ItemOutcome::kBad));  // "file.bat" is an unknown key
}

TEST(Options, QuestionMarkEndsTheParsing) {
  Parsed p = ParseLine("tw /zz a b c /? /i");
  EXPECT_EQ(ItemOutcome::kUsage, p.outcomes.back());
  EXPECT_EQ(2, Count(p, ItemOutcome::kBad));
  EXPECT_FALSE(p.options.interactive);  // items after "?" are not read
  EXPECT_EQ(ItemOutcome::kUsage, ParseLine("tw a ?").outcomes.back());
  EXPECT_EQ(ItemOutcome::kUsage, ParseLine("tw -?").outcomes.back());
  EXPECT_EQ(ItemOutcome::kUsage, ParseLine("tw --HELP /i").outcomes.back());
  Parsed version = ParseLine("tw /zz //Version /i");
  EXPECT_EQ(ItemOutcome::kVersion, version.outcomes.back());
  EXPECT_FALSE(version.options.interactive);
}

TEST(Options, NamesThatWouldBreakTheGeneratedFiles) {
  struct Case {
    const char* line;
    bool bad;
  } cases[] = {
      {"tw v.h MY_BUILD_2", false}, {"tw v.h _x", false},      {"tw v.h 2X", true},
      {"tw v.h \"X&del *\"", true}, {"tw v.h \"A B\"", true},  {"tw v.h X-Y", true},
      {"tw \"a\nb.h\"", true},      {"tw /b:\"x\ty.bat\"", true}, {"tw /e:\"x\ny\"", true},
      {"tw \"my folder/v.h\"", false},
      {"tw v.h defined", true},     {"tw v.h __VA_ARGS__", true}, {"tw v.h xor", true},
      {"tw v.h Defined", false},    {"tw v.h defined_", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.bad, Count(ParseLine(c.line), ItemOutcome::kBad) > 0) << c.line;
  }
}

}  // namespace
