// The key-driven update: brings the authorisations of the badges listed
// under one download key up to date.
#pragma once

// Returns -1 when the update failed, otherwise the number of request rows
// processed (0 when the key lists none).
long PrepareByKey(const char* key);
