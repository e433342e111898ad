// Err.txt is created empty at every start and never written.  Three streams
// open it during static initialisation: two before the scene storage comes
// into being and one after it.  Each stream's destructor runs at exit in
// the reverse order, and all three close before the kernel module is
// unregistered (which the host layer arranges for itself).
#include <fstream>

#include "scene/scene.h"

namespace {

// Lower priorities are constructed first and destroyed last.
constexpr int kEarlyErrorLogsInitPriority = kSceneStorageInitPriority - 1;
constexpr int kLateErrorLogInitPriority = kSceneStorageInitPriority + 1;

__attribute__((init_priority(kEarlyErrorLogsInitPriority))) std::ofstream error_log_1("Err.txt");
__attribute__((init_priority(kEarlyErrorLogsInitPriority))) std::ofstream error_log_2("Err.txt");
__attribute__((init_priority(kLateErrorLogInitPriority))) std::ofstream error_log_3("Err.txt");

}  // namespace
