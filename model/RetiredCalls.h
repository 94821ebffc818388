// Call records that left their line while TAPI may still hold their handle.
// A call handle is the record's address; were the memory freed, the next
// call could be given the same address, and a late request on the old
// handle (a lineCloseCall after the dead-call test) would act on the new
// call. So such a record stays allocated, emptied and without a line, until
// TAPI closes it, closes its line, or the provider shuts down. None of these
// take the ProviderLock; their callers hold it.
#pragma once

#include <windows.h>

#include "model/PhoneCall.h"
#include "model/PhoneLine.h"

// Whether TAPI may still use the call's handle: it has learnt the handle
// or is about to (EventOutbox.h), the line is open and TAPI has not closed
// the call.
bool TapiMayHoldCall(const PhoneCall& call);
// Keeps a record taken out of its line: its records are cut off, its line
// cleared; the record waits for ReleaseRetiredCall.
void RetireCall(PhoneCall* pCall);
// Frees the record when the handle names a retired call; true then.
bool ReleaseRetiredCall(const void* hdCall);
// Frees the retired records of a line (TAPI closed it: its call handles are
// void), or of every line when pLine is null (the provider shuts down).
void ReleaseRetiredCalls(const PhoneLine* pLine);
// How many records wait.
size_t RetiredCallCount();
// Whether records of the line wait.
bool HasRetiredCalls(const PhoneLine* pLine);
