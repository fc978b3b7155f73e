// The site's choice of how the full rebuild writes its tables, from the
// environment: by default every statement takes effect on its own; with
// VENDRAK_REBUILD=atomic the whole rebuild (and each badge of a key run) is
// one transaction that takes effect only once it has succeeded.
#pragma once

constexpr const char* kRebuildModeVariable = "VENDRAK_REBUILD";
constexpr const char* kAtomicRebuild = "atomic";

// Results of takeRebuildMode.
constexpr int kRebuildModeTaken = 0;
constexpr int kRebuildModeRefused = 1;

// Reads VENDRAK_REBUILD once, at the start of a run. Unset or empty keeps the
// default; "atomic" turns the session's transactions on. Any other value is
// refused with a message on standard error (kRebuildModeRefused): a mistyped value
// must not make the site believe its tables are protected when they are not.
int takeRebuildMode();
