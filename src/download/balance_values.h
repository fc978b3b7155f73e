// Balance values: the full build of SalAswDnl and SalAswDnl2.
#pragma once

// 1 when both tables were rebuilt, 0 otherwise.
int BuildSalAswDnl();
