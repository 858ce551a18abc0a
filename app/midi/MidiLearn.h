#pragma once
// MIDI learn of the program's own controls and their bindings, kept in the registry
// value "szMidiBindings" as bindings text. The control's menu offers "MIDI Learn"
// (the next controller, note or program change that arrives binds to it) and
// "Forget MIDI". UI thread.
#include <cstdint>
#include <vector>

#include "MidiBindings.h"

#include "WinInclude.h"

// Start-up, once the control point exists: the stored bindings handed to it; a
// damaged value is told once and left out.
void loadProgramBindings();
// The menu of a control that target names, at screen point (x, y), over owner.
void showMidiLearnMenu(HWND owner, uint32_t target, int x, int y);
// The menu of an FX Manager knob or switch (its control id); nothing for other controls.
void showFxControlMidiMenu(HWND panel, int controlId, int x, int y);
// The target an FX Manager control moves, or 0.
uint32_t fxControlTarget(int controlId);
// The menu of a plug-in's parameter in its parameter view.
struct EffectSlot;
void showParameterMidiMenu(HWND view, const EffectSlot* slot, int32_t parameter, int x, int y);
// Learning starts (replacing a learn not finished) or the target's bindings go.
void startMidiLearn(uint32_t target);
void forgetMidi(uint32_t target);
// The program's bindings replaced (the bindings window's edits) and kept.
void replaceProgramBindings(const std::vector<MidiBinding>& bindings);
// The running performance's bindings (its plug-in parameters) as bindings text for
// its file, and back from a file: a text that does not read is told and the
// performance opens without them; null or empty clears them.
bool performanceBindingsText(std::vector<char>& text);
void takePerformanceBindings(const char* text, size_t size);
// The target learning now, or 0.
uint32_t midiLearnTarget();
// Timer: a learn finished by a message that arrived.
void tickMidiLearn();
