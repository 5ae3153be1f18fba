// Names for the ids of the string table, so code says which text it means.
#pragma once

enum StringId : unsigned {
#define TW_STRING(id, name, text) name = id,
#include "res/string_table.inc"
#undef TW_STRING
};
