// Vendor agent operations the control bus calls that the HKT registry does not offer yet.
// Each says so at error level and fails; the work that implements one deletes it from here.
#include "core/log.h"
#include "hkt/hkt_mgmt_minder.h"

int HktMgmtMinder::handle_marlow_join(const int* state) {
    OZR_ERROR(&logger_, "HktMgmtMinder::{}() state {} not available yet: no vendor agent timers",
              __func__, state ? *state : -1);
    return -1;
}
