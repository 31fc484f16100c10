// Slots 63-67 keep their places in the table and do no work.
#include "module/slots.h"

extern "C" {

void helper_noop_a(void) {}
int32_t helper_fail_a(void) { return -1; }
int32_t helper_clamp_nonpositive(int32_t n) { return n <= 0 ? n : 0; }
void helper_noop_b(void) {}
int32_t helper_fail_b(void) { return -1; }

}
