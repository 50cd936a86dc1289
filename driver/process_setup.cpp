#include "process_setup.h"

#include <malloc.h>
#include <pthread.h>

#include <cstdio>

#include "temporary_file.h"

void setUpProcess() {
  mallopt(M_ARENA_MAX, 1);
  pthread_attr_t attributes;
  if (pthread_attr_init(&attributes) == 0) {
    if (pthread_attr_setstacksize(&attributes, kWorkerStackBytes) == 0)
      pthread_setattr_default_np(&attributes);
    pthread_attr_destroy(&attributes);
  }
  std::setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);
  removeTemporariesOnSignals();
}
