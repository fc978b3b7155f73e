#include "download/access_authorisations.h"

// The access authorisations are not built by this version yet. The phase
// fails, so that a full rebuild never reports success while they are stale.
int BuildAswBklDnl() {
    return 0;
}
