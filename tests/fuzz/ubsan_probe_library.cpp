// Library code with undefined behaviour for ubsan_probe: a signed overflow the compiler cannot see coming.

#include <climits>

int UbsanProbeOverflow(int by) { return INT_MAX + by; }
