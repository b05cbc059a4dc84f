#pragma once

// Lowers the calling thread to the idle scheduling class (or, where that is
// refused, to the weakest nice value). Failures are ignored.
void SetIdlePriority();
