// Windows lends no root: an administrator's token is the user's own.
#include "app/platform/privileges.h"

namespace app {

void giveUpLentRoot() {}

}  // namespace app
