#!/bin/sh
# The bump as a shell script with sed and printf: the reference that the tool
# must beat by far. Same lines printed, same header written; no lock, no sync.
header=Tickwright.h
name=BUILD_NUMBER
printf 'C++ Project Tickwright 2.0\nCopyright (c) 2026 the Tickwright authors\n'
printf 'https://tickwright.example.org\n\n'
number=0
if [ -s "$header" ]; then
  number=$(sed -n '1{s/^\/\/ \([0-9][0-9]*\).*/\1/p;q;}' "$header")
  if [ -z "$number" ]; then
    echo "Error parsing file: \"$header\"" >&2
    exit 5
  fi
fi
number=$((number + 1))
printf 'Build N: %u\n' "$number"
low=$((number & 65535))
high=$((number >> 16))
template='// %u\n// This file is generated automatically.\n\n//\t#include "%s"\n\n'
template=$template'#define %s %u\n#define %s_STR "%u"\n#define %s_LOW %u\n#define %s_HIGH %u\n'
template=$template'#define %s_LOW_STR "%u"\n#define %s_HIGH_STR "%u"\n'
# shellcheck disable=SC2059
printf "$template" \
  "$number" "$header" "$name" "$number" "$name" "$number" "$name" "$low" "$name" "$high" \
  "$name" "$low" "$name" "$high" >"$header"
