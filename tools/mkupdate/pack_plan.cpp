#include "tools/mkupdate/pack_plan.h"

#include "tools/mkupdate/verification_list_file.h"

uint64_t ListPlan::Size() const {
  if (!present()) return 0;
  return prebuilt ? bytes.size() : VerificationListSize(files.size());
}
