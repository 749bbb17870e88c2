/* Preloaded into the programs the soak test starts: their wall clock starts
   at the simulated time SOAK_CLOCK (seconds since 1970) and runs on at the
   real rate. Other clocks are untouched, so waits behave as usual. */
#define _GNU_SOURCE
#include <stdlib.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

static long long shift_ns;

__attribute__((constructor)) static void start_clock(void) {
  const char* value = getenv("SOAK_CLOCK");
  struct timespec now;
  if (value == NULL || syscall(SYS_clock_gettime, CLOCK_REALTIME, &now) != 0) return;
  shift_ns = atoll(value) * 1000000000LL - ((long long)now.tv_sec * 1000000000LL + now.tv_nsec);
}

int clock_gettime(clockid_t id, struct timespec* ts) {
  const int result = (int)syscall(SYS_clock_gettime, id, ts);
  if (result == 0 && (id == CLOCK_REALTIME || id == CLOCK_REALTIME_COARSE)) {
    const long long ns = (long long)ts->tv_sec * 1000000000LL + ts->tv_nsec + shift_ns;
    ts->tv_sec = (time_t)(ns / 1000000000LL);
    ts->tv_nsec = (long)(ns % 1000000000LL);
  }
  return result;
}
