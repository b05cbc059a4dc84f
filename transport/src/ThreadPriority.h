#pragma once

namespace corvane {

// Lowers the calling thread to nice 10 in the normal scheduling class: it
// yields to the service loop (nice 0) but still gets a share of a CPU that
// other programs keep busy. The idle class was tried and refused: beside
// two busy processes a worker there got almost no time, and stored
// messages stopped flowing (281 of 5,600 delivered, against all of them at
// nice 10). Failures are ignored.
void SetLowPriority();

} // namespace corvane
