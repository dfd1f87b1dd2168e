// Commands whose work has not been built yet. Each says so plainly in the
// log and touches nothing, so pressing them is always harmless.
#include "app/app_state.h"
#include "app/message_log.h"
#include "app/progress.h"
#include "app/scan_dispatch.h"

namespace tsn {

namespace {
int NotBuilt(AppState* app, const char* what) {
  LogMessage(app, kError, app->logList, "%s is not built yet.", what);
  return 0;
}
}  // namespace


}  // namespace tsn
