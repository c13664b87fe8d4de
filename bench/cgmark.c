/* Marks for counting instructions under callgrind, called from Python through
 * ctypes. Outside valgrind each call is a handful of no-op instructions. */
#include <valgrind/callgrind.h>

void cgmark_start(void) { CALLGRIND_START_INSTRUMENTATION; }
void cgmark_zero(void) { CALLGRIND_ZERO_STATS; }
void cgmark_dump(const char* label) { CALLGRIND_DUMP_STATS_AT(label); }
