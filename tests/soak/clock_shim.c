/* Preloaded into the programs a soak test starts: their wall clock starts at
   the simulated time SOAK_CLOCK (seconds since 1970, may have a fraction)
   and runs on at the real rate from there. Monotonic clocks are untouched,
   so waits and timeouts behave as usual. */
#define _GNU_SOURCE
#include <stdlib.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

static long long shift_ns;

static int real_clock(clockid_t id, struct timespec* ts) {
  return (int)syscall(SYS_clock_gettime, id, ts);
}

__attribute__((constructor)) static void start_clock(void) {
  const char* value = getenv("SOAK_CLOCK");
  struct timespec now;
  if (value == NULL || real_clock(CLOCK_REALTIME, &now) != 0) return;
  const long long wanted = (long long)(strtod(value, NULL) * 1e9);
  shift_ns = wanted - ((long long)now.tv_sec * 1000000000LL + now.tv_nsec);
}

int clock_gettime(clockid_t id, struct timespec* ts) {
  const int result = real_clock(id, ts);
  if (result == 0 && (id == CLOCK_REALTIME || id == CLOCK_REALTIME_COARSE)) {
    const long long ns = (long long)ts->tv_sec * 1000000000LL + ts->tv_nsec + shift_ns;
    ts->tv_sec = (time_t)(ns / 1000000000LL);
    ts->tv_nsec = (long)(ns % 1000000000LL);
  }
  return result;
}

int gettimeofday(struct timeval* tv, void* zone) {
  (void)zone;
  struct timespec ts;
  if (clock_gettime(CLOCK_REALTIME, &ts) != 0) return -1;
  tv->tv_sec = ts.tv_sec;
  tv->tv_usec = ts.tv_nsec / 1000;
  return 0;
}

time_t time(time_t* out) {
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  if (out != NULL) *out = ts.tv_sec;
  return ts.tv_sec;
}
