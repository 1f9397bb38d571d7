// The C runtime's text files on the simulated machine's drives.
#include <cstdarg>

#include "internal.h"
#include "platform.h"
#include "sim/errors.h"

SimFile* SimFopen(const char*, const char*) { throw sim::Unmodelled("fopen: not built yet"); }
int SimFclose(SimFile*) { throw sim::Unmodelled("fclose: not built yet"); }
int SimFgetc(SimFile*) { throw sim::Unmodelled("fgetc: not built yet"); }
int SimFeof(SimFile*) { throw sim::Unmodelled("feof: not built yet"); }
int SimFerror(SimFile*) { throw sim::Unmodelled("ferror: not built yet"); }
int SimFputs(const char*, SimFile*) { throw sim::Unmodelled("fputs: not built yet"); }
int SimFprintf(SimFile*, const char*, ...) { throw sim::Unmodelled("fprintf: not built yet"); }
