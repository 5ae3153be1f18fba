// Checking a file out of the database.
#pragma once

#include <stdint.h>

#include <string>

#include "database.h"

// Checks a file out to `user` in an opened database: under the exclusive
// lock it re-reads who holds the file, refuses one held by somebody else,
// requires the working copy, makes it writable and records the check-out.
// A file the user holds already is checked out again (it stays writable).
bool CheckOutFile(Database& database, uint32_t item, const std::string& user, Failure* failure);
