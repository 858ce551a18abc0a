#pragma once
// The driver's own words for what WASAPI answers: every failing HRESULT of the WASAPI
// modes is reported with the step that got it and what the answer means.
#include "WinInclude.h"

// Writes "<step>: <meaning>" into text (256 bytes), e.g. "Opening the output in
// exclusive mode: the device is in use by another program". Any thread; allocates nothing.
void describeWasapiFailure(HRESULT result, const char* step, char* text);

// The meaning alone, as above; a code the driver has no words for gets
// "the device answered 0x........" written into scratch (32 bytes), which is returned.
const char* wasapiFailureMeaning(HRESULT result, char* scratch);

// True for the answers that mean exclusive mode is refused for this device (in use by
// another program, or not allowed by its settings), for which shared mode is offered.
bool isExclusiveRefusal(HRESULT result);
