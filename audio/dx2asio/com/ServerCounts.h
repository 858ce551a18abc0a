#pragma once
// What keeps ZerevaZ-2-UDID.dll loaded: live driver objects, references to its
// class factory and the host's LockServer calls. COM asks DllCanUnloadNow before it
// frees the library, and may ask from any thread.

void serverCountUp();
void serverCountDown();
// True when nothing made by this library is in use.
bool serverIsIdle();
