// Access authorisations: the full build of AswBklDnl and of the booking
// classes of TrmAswDnl.
#pragma once

// 1 when both passes completed, 0 otherwise.
int BuildAswBklDnl();
