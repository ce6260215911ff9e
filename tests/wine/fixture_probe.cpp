// The fixture's first question to the machine: does a program of this build
// run here at all? A 32-bit one needs a kernel that runs 32-bit code and
// Wine's 32-bit part; where it does not run, the run's tests skip.
#include <cstdio>

int main() {
    std::printf("%d-bit Windows programs run here\n", static_cast<int>(sizeof(void*) * 8));
    return 0;
}
