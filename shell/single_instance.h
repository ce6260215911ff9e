// One copy of the program at a time: a flag in the program file's shared data
// section, which every process started from the file sees.
#pragma once

// Tests and sets the flag in one atomic step: true for the copy that finds it
// clear (it is never cleared again), false for every later one.
bool ClaimSingleInstance();

// Back to the state of a freshly loaded program file, the flag clear: for a
// host that starts the program again on a new (simulated) machine, where all
// copies share one address space and the flag would otherwise outlive them.
void SingleInstanceForgetProcessState();
