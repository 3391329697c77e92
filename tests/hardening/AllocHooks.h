// AllocHooks.h - the allocation hooks now live in support/AllocHooks.h;
// this header keeps the hardening programs' include working until their
// build links the en_alloc_hooks library instead.
#include "../../support/AllocHooks.h"
