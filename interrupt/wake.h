// Between the count of requests, which both platforms share (interrupt.cpp), and each platform's
// way of ending the waits a request stops.
#pragma once

namespace valdrix::interrupt {

// How many requests stop the calling thread's waits: one, or two in its close stage.
int StopsAt();

// Ends every wait that this many requests stop; safe in a signal handler.
void WakeWaits(int requests);

}  // namespace valdrix::interrupt
