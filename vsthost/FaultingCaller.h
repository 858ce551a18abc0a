#pragma once
// A fault in code that is neither this program's nor a plug-in's (a system library
// handed a bad pointer, or a call through a garbage function pointer) is the fault of
// whoever made the call. This walks the faulting thread's calls outward from the
// fault's register context and offers each caller's code address in turn.
// Windows. Safe inside a process that is crashing: it allocates nothing, takes no lock
// of its own, and reads only the thread's own stack and the mapped code of loaded
// modules, each read checked first.
#include <cstdint>

struct _CONTEXT;

// At most this many callers are offered: a chain deeper than that is not read on.
constexpr int kMaxFaultingCallers = 64;

// Answers true when the caller at this code address decides who is to blame, which
// ends the walk.
using FaultingCallerDecides = bool (*)(const void* code, void* user);

// On the faulting thread (its stack is the one read): offers the code addresses the
// faulting frame and its callers return to, innermost first, until `decides` says
// one decides. True when one did; false when the chain ended, left the stack or grew
// too long first.
//   64-bit: the system's unwind tables on a copy of the context; a code address
//   without them is a leaf whose return address is the word at the stack pointer.
//   32-bit: no unwind tables, so the stack is scanned upward for words that return
//   into a module's code just after a call instruction.
bool findFaultingCaller(const _CONTEXT& faulted, FaultingCallerDecides decides, void* user);

// For tests and the walk: `code` is a return address: it lies in an executable part of
// a loaded module's image, right after a call instruction (E8 rel32, or FF /2).
bool returnsAfterACall(const void* code);

// The call-instruction test on the code bytes just before a return address: they end
// with E8 rel32 or an FF /2 form (2 to 7 bytes, by its ModRM, SIB and displacement).
bool bytesEndWithACall(const uint8_t* bytes, int count);
