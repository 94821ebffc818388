// How the HTTP client waits for WinHTTP, which it runs in asynchronous mode:
// every operation (send, response header, data available, read) completes
// through the status callback, which records the outcome here and sets the
// record's event. The client's thread waits on that event together with the
// stop events (http/RequestStop.h) and its time limit, so that no wait of a
// request outlasts a stop request or the server's silence.
//
// Why not synchronous calls ended by closing the handle: under Wine, closing a
// WinHTTP handle from another thread does not make a synchronous read return,
// and its receive time-out does not end a hung request; after a receive
// time-out the request is unusable. In asynchronous mode the waiting is ours.
// A request given up while an operation is pending is unhooked from the
// callback and closed; WinHTTP finishes it on a thread of its own (under Wine
// only when the socket next wakes), and winhttp.dll is kept loaded for it.
//
// A record's life: the client holds one reference; the status callback takes
// one for as long as it runs, and only while the record is registered, so a
// callback that WinHTTP dispatched before the request was unhooked, but that
// runs after, finds nothing and leaves. The record goes with its last
// reference, its body and read buffer (a login's body holds the password)
// wiped first. Only the buffer that a pending operation of a given-up request
// may still use stays allocated, wiped, for WinHTTP.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "common/UniqueHandle.h"

struct CAsyncCall {
    CAsyncCall();
    ~CAsyncCall();
    CAsyncCall(const CAsyncCall&) = delete;
    CAsyncCall& operator=(const CAsyncCall&) = delete;

    // Before each operation: forget the previous completion.
    void Arm();
    // Called by the status callback for every notification of the request.
    void Note(DWORD dwStatus, LPVOID pInformation, DWORD dwInformationLength);

    UniqueHandle hDone;           // auto-reset; set by a completion
    volatile DWORD dwStatus = 0;  // WINHTTP_CALLBACK_STATUS_* of the last completion, 0 before it
    volatile DWORD dwValue = 0;   // bytes available or read
    volatile DWORD dwError = 0;   // error of a WINHTTP_CALLBACK_STATUS_REQUEST_ERROR
    std::string body;             // the body being sent: WinHTTP reads it until the send completes
    std::vector<BYTE> buffer;     // the read buffer: WinHTTP fills it until the read completes
    volatile LONG lReferences = 1;
};

// A new registered record with the client's reference; null without memory.
CAsyncCall* NewAsyncCall();
// The client lets go of its record. dwPending is the completion it was still
// waiting for when it gave the request up (0: none): the buffer that
// operation uses is left to WinHTTP, wiped.
void RetireAsyncCall(CAsyncCall* pCall, DWORD dwPending);
// For the status callback: the record with a reference, or null when the
// client has let go of it already.
CAsyncCall* AcquireAsyncCall(DWORD_PTR dwContext);
void ReleaseAsyncCall(CAsyncCall* pCall);
// Records not freed yet, left to WinHTTP or not (tests: an abandoned request
// frees what it holds).
size_t LiveAsyncCalls();

struct AsyncCallRetirer {
    void operator()(CAsyncCall* pCall) const { RetireAsyncCall(pCall, 0); }
};
using UniqueAsyncCall = std::unique_ptr<CAsyncCall, AsyncCallRetirer>;

enum class AsyncWaitEnd { Completed, Stopped, TimedOut };

// Waits for the armed operation of the record, for a stop request of the
// calling thread or the provider, or dwTimeoutMs (INFINITE: no limit).
AsyncWaitEnd WaitForAsyncCall(CAsyncCall& call, DWORD dwTimeoutMs);

// The status callback counts itself in and out, so that a request can be
// unhooked and then known to be out of the callback.
void EnterStatusCallback();
void LeaveStatusCallback();
// After WinHttpSetStatusCallback(h, nullptr): waits until no status callback
// runs any more (they are short), at most a fifth of a second.
void WaitForStatusCallbacksToLeave();

// Keeps winhttp.dll loaded for the life of the process: a request given up
// while pending is finished by WinHTTP's own thread, which must still find
// its code when this library has been unloaded.
void KeepWinHttpLoaded();
