// SPDX-License-Identifier: MIT
// The short history of G-sensor samples behind the data file: a ring of the last 50 raw
// samples from which each record's baseline is taken, the one request for the samples
// kv_server kept from before this process started, and the own samples that wait for it.
#pragma once

#include <stdint.h>

#include "gsf_file.h"
#include "kv_msg_drv.h"

inline constexpr int kGSensorQueueSize = 50;  // also the items of one kv_server answer
inline constexpr int kPendingLimit = 50;

// Start tick of the recording (monotonic milliseconds): record times count from it, and
// kv_server's items older than it are not part of this recording.
void SetTickStart(int64_t tick);
// Records written so far (the header's count at close).
int32_t DataCount();

// The ring of raw samples: Push copies the item into the next slot.
void Push(const GSENSOR_ITEM *item);
// Removes from the record's axes the mean of the last four samples in the ring (fewer
// while it holds fewer); with an empty ring the axes become 0.
void ApplyAverageData(GSF_RECORD *record);
// Writes the mean of the last `n` samples' axes into `out`; 1, or 0 (out untouched) when
// the ring is empty or n is 0 or less.
int GetAverageData(GSF_RECORD *out, int n);

// An own sample into the file: baseline from the ring as it is before the sample, write,
// then push, so a sample is never part of its own baseline.
void WriteOwnSample(const GSENSOR_ITEM &item);

// The previous data: requested once, merged once, on a thread of their own. The request
// blocks until kv_server answers (through signals too, so that a late reply is never taken
// for another one), and sampling must go on meanwhile.
//
// Until PreviousCompleted() the ring, the count and the records belong to that thread;
// afterwards to the caller. The pending samples always belong to the caller.
bool PreviousRequested();
// Starts the request; false when no thread can be started (the previous data then count
// as completed, without items).
bool StartPreviousRequest();
bool PreviousCompleted();
// At the end of the recording: waits for a merge under way, or gives up an answer that
// has not come. True when the request is still blocked on the bus (its thread holds the
// bus lock until kv_server answers).
bool SettlePrevious();
// Asks kv_server for its last 50 items and writes those at or after the start tick as the
// first records of the file; the previous data are then completed, whatever the answer.
void ProcessGetPrevious();

// Own samples taken while the previous data are outstanding. Beyond kPendingLimit the
// oldest is dropped.
void AddPending(const GSENSOR_ITEM &item);
// Writes the pending samples in the order taken and empties the list. A sample whose tick
// is not newer than the last merged server item is dropped: that moment is in the file.
void FlushPending();
