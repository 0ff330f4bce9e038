// Shared objects that are not the instruments module the loader expects: one without its entry
// points, one of another interface version.
#include "instruments/SigrokModule.h"

extern "C" {
#ifdef KORVO_FOREIGN_VERSION
__attribute__((visibility("default"))) int korvo_sigrok_abi_version(void) { return KORVO_FOREIGN_VERSION; }
#else
__attribute__((visibility("default"))) int korvo_not_an_instrument_module(void) { return 0; }
#endif
}
