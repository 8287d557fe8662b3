#pragma once

// The whole program: the single-instance guard, the start-up and the run. Returns the process
// exit code: 0 after a run or after turning away a second copy, 1 when start-up fails.
int RunTrimbolt64();
