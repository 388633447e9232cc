// The context records of the core services: the single static record of an
// unthreaded process and the per-thread records under a thread-specific key.
#include "core/context.h"

#include <cstring>

// All ones: no key has been allocated yet.
static const pthread_key_t kNoContextKey = static_cast<pthread_key_t>(-1);

static BooleanT gbContextThreaded = FALSE;
static pthread_key_t gtContextKey = kNoContextKey;

// Usable from program start, before any initialiser has run: all zero but
// for the lock, whose static initialiser needs no call.
static OrvantisContextT gsStaticContext = {
    {0, 0, 0},
    {PTHREAD_MUTEX_INITIALIZER, FALSE, FALSE, nullptr, 0},
    {nullptr, nullptr},
};

OrvantisContextT* ContextGet() {
  if (gbContextThreaded) {
    if (gtContextKey == kNoContextKey) {
      return nullptr;
    }
    return static_cast<OrvantisContextT*>(pthread_getspecific(gtContextKey));
  }
  return &gsStaticContext;
}

BooleanT ContextValid() {
  if (!gbContextThreaded) {
    return TRUE;
  }
  return gtContextKey != kNoContextKey && pthread_getspecific(gtContextKey) != nullptr;
}

BooleanT ContextSetThreaded(BooleanT bThreaded) {
  if (bThreaded && gtContextKey == kNoContextKey) {
    pthread_key_t tKey;
    // The records belong to whoever attached them, so the key frees nothing.
    if (pthread_key_create(&tKey, nullptr) != 0) {
      return FALSE;
    }
    gtContextKey = tKey;
  }
  gbContextThreaded = bThreaded ? TRUE : FALSE;
  return TRUE;
}

BooleanT ContextAttachThread(OrvantisContextT* ptContext) {
  if (gtContextKey == kNoContextKey) {
    return FALSE;
  }
  return pthread_setspecific(gtContextKey, ptContext) == 0 ? TRUE : FALSE;
}

void ContextInitialize(OrvantisContextT* ptContext) {
  memset(ptContext, 0, sizeof(*ptContext));
  pthread_mutex_init(&ptContext->sTrace.tLock, nullptr);
}

void ContextRelease(OrvantisContextT* ptContext) {
  pthread_mutex_destroy(&ptContext->sTrace.tLock);
}
