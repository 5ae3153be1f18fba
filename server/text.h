// Text of the SourceSafe server: its string table, UTF-8 and UTF-16, and the
// letter-case rule of SourceSafe paths.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

#include "winapi/winapi.h"

enum ServerStringId : unsigned {
#define SS_STRING(id, name, text) name = id,
#include "strings.inc"
#undef SS_STRING
};

// The table's text for `id`; an unknown id gives "".
const char* ServerText(ServerStringId id);
// The text for `id` with each "%s" replaced by the next of `args` ("%%" is
// one "%"); a "%s" without an argument left stays as it is.
std::string FormatText(ServerStringId id, std::initializer_list<std::string_view> args);

// Automation strings are UTF-16; the server keeps UTF-8.
typedef std::basic_string<OLECHAR> WideText;
// Invalid UTF-8 becomes U+FFFD, one per bad byte.
WideText WideFromUtf8(std::string_view text);
// Unpaired surrogates become U+FFFD.
std::string Utf8FromWide(const OLECHAR* text, size_t length);

// SourceSafe paths ignore letter case: ASCII letters compare folded, other
// characters as they are.
bool EqualNoCase(std::string_view a, std::string_view b);
std::string FoldCase(std::string_view text);
