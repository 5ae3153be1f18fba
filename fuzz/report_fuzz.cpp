// Fuzz target: the report builder. An exception of each class, with a code,
// a file name and a list of messages (texts, empty ones and string-table
// references, any id) from the input, builds its report and its details:
// every text message appears in the report, newest first, and the details
// only add to the report.
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include "errors/exception.h"
#include "fuzz_support.h"

namespace {

ClException* MakeException(FuzzInput& in, const ClMessage& first) {
  const uint8_t kind = in.Byte() % 4;
  const DWORD code = in.Word();
  switch (kind) {
    case 0:
      return new ClException(first);
    case 1:
      return new ClWin32Exception(code, first);
    case 2:
      return new ClFileException(code, first, ClString(in.Text(64).c_str()));
    default: {
      auto* e = new ClMemException(code);
      e->AddMessage(first);
      return e;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  std::vector<std::string> texts;  // the text messages, oldest first
  bool newestIsText = false;
  auto next = [&]() -> ClMessage {
    if (in.Byte() % 4 == 0) {
      newestIsText = false;
      return ClMessage::Reference(in.Word() % 0x10000);
    }
    texts.push_back(in.Text(64));
    newestIsText = true;
    return ClMessage(ClString(texts.back().c_str()));
  };
  ClException* e = MakeException(in, next());
  for (int i = 0; i < 8 && in.More(); ++i) e->AddMessage(next());

  ClString report;
  e->BuildReport(report);
  const std::string built(report.GetText(), report.GetLength());
  FUZZ_CHECK(!built.empty() && strlen(report.GetText()) == built.size());
  size_t at = 0;
  for (auto text = texts.rbegin(); text != texts.rend(); ++text) {
    at = built.find(*text, at);
    FUZZ_CHECK(at != std::string::npos);
    at += text->size();
  }
  if (newestIsText) FUZZ_CHECK(built.compare(0, texts.back().size(), texts.back()) == 0);

  e->DescribeDetails(report);
  FUZZ_CHECK(std::string(report.GetText(), report.GetLength()).compare(0, built.size(), built) ==
             0);
  delete e;
  return 0;
}
