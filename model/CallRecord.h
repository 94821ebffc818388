// The memory of a call record. A call's LINECALLINFO and LINECALLSTATUS live
// in one block with the record, so the record owns them: they go when it
// goes, whoever held a pointer to them. The record comes first in the block,
// so its address, the provider's call handle, is the block's.
#pragma once

#include "model/PhoneCall.h"

// A zero-filled record whose m_pLineCallInfo (kCallInfoBufferSize bytes) and
// m_pLineCallStatus point into its block; null when memory is short.
PhoneCall* NewPhoneCall();
// Frees a record NewPhoneCall made, with its buffers; null is ignored.
void DeletePhoneCall(PhoneCall* pCall);
