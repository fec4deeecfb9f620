// The checks mkupdate pack makes before it writes anything: the stub, the
// entries and their names, the verification list, and the output, which
// must be none of the inputs.
#ifndef TOOLS_MKUPDATE_PACK_INPUTS_H_
#define TOOLS_MKUPDATE_PACK_INPUTS_H_

#include "tools/mkupdate/pack.h"
#include "tools/mkupdate/pack_plan.h"

// Checks every input and the output, and fills the plan. Returns false
// after refusing, all at once where they are many, what cannot be packed.
bool PreparePack(const PackOptions& options, PackPlan* plan);

#endif  // TOOLS_MKUPDATE_PACK_INPUTS_H_
