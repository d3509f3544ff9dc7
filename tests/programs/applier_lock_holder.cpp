// Holds a lock file for the applier tests: hold_lock with the time in
// milliseconds.
//   applier_lock_holder PATH MILLISECONDS
#define NX_HOLD_LOCK_UNIT_MS 1
#include "hold_lock.cpp"
