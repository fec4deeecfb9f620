// Processors other than x86 have none of the features asked about.
#include "platform/cpu.h"

int ProcessorHasSse2() { return 0; }

int ProcessorHasAvx2() { return 0; }

int ProcessorHasAvx512() { return 0; }
