// SPDX-License-Identifier: MIT
#include "gsensor_history.h"

#include <pthread.h>
#include <signal.h>
#include <string.h>

#include <atomic>

namespace {

// Baseline of a record: the mean of this many samples before it.
constexpr int kBaselineSamples = 4;

// The one request for previous data. The answer is merged only if the recording has not
// ended meanwhile (kWaiting -> kMerging); the end gives up a request still waiting
// (kWaiting -> kAbandoned). Whoever moves first owns the ring.
enum PreviousState { kNotRequested, kWaiting, kMerging, kCompleted, kAbandoned };

struct History {
  GSENSOR_ITEM g_arrGSensorQueue[kGSensorQueueSize] = {};
  int g_nCurrIndex = 0;  // slot of the next push
  int g_nDataSize = 0;   // valid items, 0..50
  int32_t g_nDataCount = 0;
  int64_t g_llTickStart = 0;
  int64_t g_llLastPreviousTick = 0;
  std::atomic<int> previous{kNotRequested};
  pthread_t requester{};
  bool requesterStarted = false;  // main thread only
  GSENSOR_ITEM pending[kPendingLimit] = {};
  int nPending = 0;
} g;

static_assert(sizeof(g.g_arrGSensorQueue) == 2000, "one kv_server answer fills the ring");

// A record of `item` with its raw axes, before the baseline is removed.
GSF_RECORD rawRecord(const GSENSOR_ITEM &item) {
  GSF_RECORD r;
  r.llTime = item.llTick - g.g_llTickStart;
  r.nAxis1 = item.nAxis1;
  r.nAxis2 = item.nAxis2;
  r.nAxis3 = item.nAxis3;
  r.nReserved = item.nReserved;
  r.nSensor4 = item.nSensor4;
  r.nBattery = item.nBattery;
  return r;
}

// Raw value minus the mean, kept in 32 bits as the file field is.
int32_t minus(int32_t value, int32_t mean) {
  return static_cast<int32_t>(static_cast<int64_t>(value) - mean);
}

// Record built, corrected against the ring, written; the caller pushes and counts.
void writeCorrected(const GSENSOR_ITEM &item) {
  GSF_RECORD record = rawRecord(item);
  ApplyAverageData(&record);
  GsfWriteRecord(record);
}

}  // namespace

void SetTickStart(int64_t tick) { g.g_llTickStart = tick; }
int32_t DataCount() { return g.g_nDataCount; }

void Push(const GSENSOR_ITEM *item) {
  g.g_arrGSensorQueue[g.g_nCurrIndex] = *item;
  g.g_nCurrIndex = (g.g_nCurrIndex + 1) % kGSensorQueueSize;
  if (g.g_nDataSize < kGSensorQueueSize) g.g_nDataSize++;
}

int GetAverageData(GSF_RECORD *out, int n) {
  // The last min(n, S) samples, walking back from the slot before the next push and
  // round the ring from slot 0 to slot 49.
  int count = n < g.g_nDataSize ? n : g.g_nDataSize;
  if (count <= 0) return 0;
  int64_t sum1 = 0, sum2 = 0, sum3 = 0;
  for (int back = 1; back <= count; ++back) {
    const GSENSOR_ITEM &item =
        g.g_arrGSensorQueue[(g.g_nCurrIndex - back + kGSensorQueueSize) % kGSensorQueueSize];
    sum1 += item.nAxis1;
    sum2 += item.nAxis2;
    sum3 += item.nAxis3;
  }
  // Integer division truncates toward zero: -7 / 4 is -1, as the file's readers expect.
  out->nAxis1 = static_cast<int32_t>(sum1 / count);
  out->nAxis2 = static_cast<int32_t>(sum2 / count);
  out->nAxis3 = static_cast<int32_t>(sum3 / count);
  return 1;
}

void ApplyAverageData(GSF_RECORD *record) {
  GSF_RECORD mean;
  if (!GetAverageData(&mean, kBaselineSamples)) {
    record->nAxis1 = record->nAxis2 = record->nAxis3 = 0;
    return;
  }
  record->nAxis1 = minus(record->nAxis1, mean.nAxis1);
  record->nAxis2 = minus(record->nAxis2, mean.nAxis2);
  record->nAxis3 = minus(record->nAxis3, mean.nAxis3);
}

void WriteOwnSample(const GSENSOR_ITEM &item) {
  writeCorrected(item);
  Push(&item);
  g.g_nDataCount++;
}

bool PreviousRequested() { return g.previous.load() != kNotRequested; }

bool PreviousCompleted() { return g.previous.load(std::memory_order_acquire) == kCompleted; }

namespace {
void *requestThread(void *) {
  ProcessGetPrevious();
  return nullptr;
}
}  // namespace

bool StartPreviousRequest() {
  g.previous = kWaiting;
  // Stop signals are for the main loop: its sleep is what they must cut short.
  sigset_t all, old;
  sigfillset(&all);
  pthread_sigmask(SIG_BLOCK, &all, &old);
  g.requesterStarted = pthread_create(&g.requester, nullptr, requestThread, nullptr) == 0;
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  // Without the thread there are no previous data: own samples go to the file directly.
  if (!g.requesterStarted) g.previous.store(kCompleted, std::memory_order_release);
  return g.requesterStarted;
}

void ProcessGetPrevious() {
  // A failed request leaves the buffer zero: no item qualifies and own samples follow.
  GSENSOR_ITEM items[kGSensorQueueSize] = {};
  KVMSG_GetPreviousGSensor(items, sizeof items);

  int waiting = kWaiting;
  if (!g.previous.compare_exchange_strong(waiting, kMerging)) return;  // recording ended
  g.g_llLastPreviousTick = 0;
  int32_t merged = 0;
  for (GSENSOR_ITEM &item : items) {
    bool inRecording = g.g_llTickStart > 0 && item.llTick > 0 && item.llTick >= g.g_llTickStart;
    if (!inRecording) continue;
    writeCorrected(item);
    item.llTick2 = item.llTick - g.g_llTickStart;
    Push(&item);
    if (item.llTick > g.g_llLastPreviousTick) g.g_llLastPreviousTick = item.llTick;
    merged++;
  }
  g.g_nDataCount += merged;
  g.previous.store(kCompleted, std::memory_order_release);
}

bool SettlePrevious() {
  if (!g.requesterStarted) return false;
  int waiting = kWaiting;
  if (g.previous.compare_exchange_strong(waiting, kAbandoned)) {
    // Blocked in the bus until kv_server answers, if ever: it ends with the process.
    pthread_detach(g.requester);
    return true;
  }
  pthread_join(g.requester, nullptr);  // merged or merging: a few records at most
  return false;
}

void AddPending(const GSENSOR_ITEM &item) {
  if (g.nPending == kPendingLimit) {
    memmove(&g.pending[0], &g.pending[1], sizeof(GSENSOR_ITEM) * (kPendingLimit - 1));
    g.nPending--;
  }
  g.pending[g.nPending++] = item;
}

void FlushPending() {
  for (int i = 0; i < g.nPending; ++i)
    if (g.pending[i].llTick > g.g_llLastPreviousTick) WriteOwnSample(g.pending[i]);
  g.nPending = 0;
}
