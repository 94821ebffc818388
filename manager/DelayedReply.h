// Completions of asynchronous TAPI requests (make-call, drop). The export
// returns the request identifier at once; the request's PBX command, when it
// has one, runs on the request thread (RequestThreads.h) outside every lock,
// and the completion follows about 100 ms after the export at the earliest,
// so that TAPI always has the identifier before it hears the outcome.
#pragma once

#include <windows.h>

#include <functional>

// Completes TAPI request dwRequestID with lResult.
void StartReplyRequest(DWORD dwRequestID, LONG lResult);
// Completes it with what command returns; the command runs first, on the
// request thread, without any lock.
void StartReplyRequest(DWORD dwRequestID, std::function<LONG()> command);

// The one place where a delayed reply reaches TAPI's completion procedure:
// on the request thread, with no lock held, after the request's command has
// run. Whoever must order something after a completion (a placed call's
// events after its make-call completion) does it here.
void SendRequestCompletion(DWORD dwRequestID, LONG lResult);
