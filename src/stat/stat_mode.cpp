#include "stat/stat_mode.h"

#include "platform/heap_memory.h"

#include "frame/jobs.h"
#include "common/node_tree.h"
#include "stat/stat_driver.h"
#include "stat/stat_state.h"
#include "stat/stat_types.h"

namespace {

// One lock row per real type, in table order, ended by a row without name.
InstanceLockRow g_lockRows[kRealStatTypeCount + 1] = {};
bool g_lockRowsReady = false;

void PrepareLockRows() {
  if (g_lockRowsReady) return;
  const StatType* table = StatTypeTable();
  for (int i = 0; i < kRealStatTypeCount; ++i) {
    g_lockRows[i] = InstanceLockRow{table[i].name, table[i].mask, nullptr};
  }
  g_lockRows[kRealStatTypeCount] = InstanceLockRow{nullptr, 0, nullptr};
  g_lockRowsReady = true;
}

}  // namespace

ResultCode TakeStatLocks(const wchar_t* outputDir, uint32_t mask) {
  if (outputDir == nullptr) return kErrInvalidArgument;
  PrepareLockRows();
  return TakeInstanceLocks(outputDir, mask, g_lockRows);
}

void ReleaseStatLocks() {
  if (g_lockRowsReady) ReleaseInstanceLocks(g_lockRows);
}

ResultCode RunStatMode(const StatModeArgs& args) {
  if (args.logDir == nullptr || args.outputDir == nullptr) return kErrInvalidArgument;
  ResetStatState();
  ResultCode result = LoadStatState(args.outputDir, args.mask);
  if (result != kOk) return result;
  NodeTree* ownList = nullptr;
  NodeTree* list = args.dateList;
  if (args.datesGiven && list != nullptr) {
    for (TreeNode* node = TreeFirstChild(list); node != nullptr; node = TreeNextSibling(node)) {
      TreeSetNodeId(node, args.mask);
    }
  } else {
    ownList = TreeCreate(0, 0);
    if (ownList == nullptr) return kErrNoMemory;
    list = ownList;
    result = ScanNewLogDays(args.logDir, args.outputDir, args.mask, list);
  }
  if (result == kOk) {
    HeapKeepFreedBlocks();  // each day's tables reuse the pages of the day before
    BackupStatState(args.outputDir);
    const bool force = args.datesGiven && !args.diff;
    result = RunStatTypes(args.logDir, args.outputDir, list, args.settings, force, args.diff,
                          args.threads, args.progress, args.event);
    if (result == kOk && (!args.datesGiven || args.diff)) SaveStatState(args.outputDir, args.mask);
  }
  if (ownList != nullptr) TreeDestroy(ownList);
  return result;
}
