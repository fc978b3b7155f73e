// The information options of the command line. A download key never starts
// with "-", so a single argument "--help", "-h" or "--version" can be told
// apart from a key without taking any key away.
#pragma once

#include <cstdio>

// Result of runInformationOption when the command line is not one of the
// information options.
constexpr int kNoInformationOption = -1;

// When the command line is exactly one argument "--help" or "-h" (usage) or
// "--version" (version), prints that text to `out` and returns the exit
// code 0. Every other command line returns kNoInformationOption and keeps its
// meaning for the program run. Reads no settings, writes no log and opens no
// database connection.
int runInformationOption(int argc, char** argv, std::FILE* out);
