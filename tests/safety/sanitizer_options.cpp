// The safety runs make millions of small allocations in the simulator; a short allocation stack
// (8 frames instead of 30) keeps AddressSanitizer's bookkeeping from dominating their time while
// every check stays on.
extern "C" const char* __asan_default_options() { return "malloc_context_size=8"; }
