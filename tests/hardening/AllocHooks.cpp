// The allocation hooks are support/AllocHooks.cpp; compiled here for the
// hardening programs whose build names this file.
#include "../../support/AllocHooks.cpp"
