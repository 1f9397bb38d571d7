// The emulator makes hundreds of thousands of small allocations of its own in every run (its
// translation of each new block, its machine at each start): a short allocation stack (2 frames
// instead of 30) keeps AddressSanitizer's bookkeeping from dominating the emu tests' time, while
// every check stays on.
extern "C" const char* __asan_default_options() { return "malloc_context_size=2"; }
