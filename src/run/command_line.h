// The command line: the information options, and the refusal of a single
// argument that cannot be a download key. A download key never starts with
// "-", so a single argument "--help", "-h" or "--version" can be told apart
// from a key without taking any key away.
#pragma once

#include <cstdio>

#include "run/exit_codes.h"

// Result of runInformationOption when the command line is not one of the
// information options.
constexpr int kNoInformationOption = -1;

// When the command line is exactly one argument "--help" or "-h" (usage) or
// "--version" (version), prints that text to `out` and returns the exit
// code 0. Every other command line returns kNoInformationOption and keeps its
// meaning for the program run. Reads no settings, writes no log and opens no
// database connection.
int runInformationOption(int argc, char** argv, std::FILE* out);

constexpr const char* kDryRunOption = "--dry-run";

// True when the command line is exactly one argument "--dry-run": the full
// rebuild, proved and rolled back (commit_proof.h).
bool isDryRunCommand(int argc, char** argv);

// Result of refuseCommandLine when the command line may run; a refused one
// gives the failure exit code 99.
constexpr int kCommandLineAccepted = -1;
constexpr int kCommandLineRefused = kExitFailure;

// Refuses a single argument that starts with "-" and is none of the
// program's options ("--help", "-h", "--version", "--check", "--dry-run"), a single
// argument longer than 14 bytes (the key field's width): a key cut to its first 14
// bytes would run another key's badges, and two or more arguments of which
// one starts with "-": an option stands alone, and a mistyped one must not
// turn into a full rebuild. Prints a message naming the argument and the
// usage to `err` and returns kCommandLineRefused. Every other command line
// (none, one empty or valid argument, two or more arguments none of which
// starts with "-") returns kCommandLineAccepted. Reads no settings, writes
// no log and opens no database connection.
int refuseCommandLine(int argc, char** argv, std::FILE* err);
