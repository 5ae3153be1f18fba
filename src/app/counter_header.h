// The counter update: reads the build number from the counter header,
// increments it, prints it and writes the header anew.
#pragma once

#include "app/counter_options.h"

// Completes the names in `options`, then reads, increments, reports and
// writes. Returns normally when the header was written (or the user declined
// the increment); every failure leaves as a thrown ClException*.
void UpdateBuildNumber(CounterOptions& options);
