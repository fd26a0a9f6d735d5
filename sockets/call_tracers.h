// The socket call tracers and the error-code bracket around each call line.
#ifndef KESTRELNODE9_CALL_TRACERS_H
#define KESTRELNODE9_CALL_TRACERS_H

// Load and unload of the per-thread saved error code.
void AttachCallTracers();
void DetachCallTracers();

#endif
