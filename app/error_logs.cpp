// Err.txt is created empty at every start and never written.  Three streams
// open it during static initialisation: two before the scene storage comes
// into being and one after it.  Each stream's destructor runs at exit in
// the reverse order, and all three close before the kernel module is
// unregistered (which the host layer arranges for itself).  A link or FIFO
// named Err.txt is not opened (see error_log.h).
#include <fstream>

#include "app/error_log.h"
#include "scene/scene.h"

namespace {

// Lower priorities are constructed first and destroyed last.
constexpr int kEarlyErrorLogsInitPriority = kSceneStorageInitPriority - 1;
constexpr int kLateErrorLogInitPriority = kSceneStorageInitPriority + 1;

__attribute__((init_priority(kEarlyErrorLogsInitPriority))) std::ofstream error_log_1 = open_error_log("Err.txt");
__attribute__((init_priority(kEarlyErrorLogsInitPriority))) std::ofstream error_log_2 = open_error_log("Err.txt");
__attribute__((init_priority(kLateErrorLogInitPriority))) std::ofstream error_log_3 = open_error_log("Err.txt");

}  // namespace
