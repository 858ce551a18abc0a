#pragma once
// The base class of every effect: owns the AEffect record handed to the host,
// answers the dispatcher and supplies default operations. An effect derives one
// class, sets its numbers in its constructor and overrides what it needs.
//
// Threads: the host calls the dispatcher, the parameter setters and the text
// queries from its UI or automation thread, and process/processReplacing from
// its audio thread. Nothing here locks, blocks or allocates on the audio path.
#include "VstInterface.h"

// The unique ID all three of our effects announce.
constexpr VstInt32 kTalvenorUniqueId = fourCharCode('t', 'a', 'l', 'P');  // 0x74616C50

// Knob values are 0.0 to 1.0; a host sending anything else (or NaN) gets the
// nearest end, so no law downstream can produce infinities or overlong displays.
inline float clampParameter(float value) {
    return value >= 0.0f ? (value <= 1.0f ? value : 1.0f) : 0.0f;
}

// An editor window object. None of the three effects has one; the framework
// only forwards the editor opcodes to it when an effect sets one.
class AEffEditor {
public:
    virtual ~AEffEditor() {}
    // Host UI thread: the editor's size, through a pointer to a rectangle pointer.
    virtual VstInt32 getRect(ERect** rect) = 0;
    // Host UI thread: opens the editor in the host's window; 0 means failure.
    virtual VstInt32 open(void* parentWindow) = 0;
    virtual void close() = 0;
    virtual void idle() = 0;
};

class AudioEffect {
public:
    AudioEffect(audioMasterCallback audioMaster, VstInt32 numPrograms, VstInt32 numParams);
    virtual ~AudioEffect();

    // Host automation or UI thread.
    virtual void setParameter(VstInt32 index, float value);
    virtual float getParameter(VstInt32 index);
    // Sets the parameter and tells the host, as if the user had moved a knob.
    virtual VstIntPtr setParameterAutomated(VstInt32 index, float value);

    // Host audio thread.
    virtual void process(float** inputs, float** outputs, VstInt32 sampleFrames) = 0;
    virtual void processReplacing(float** inputs, float** outputs, VstInt32 sampleFrames);

    // Host UI thread: every opcode the host sends arrives here.
    virtual VstIntPtr dispatcher(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt);

    virtual void open();
    virtual void close();

    virtual VstInt32 getProgram();
    virtual void setProgram(VstInt32 program);
    // Program names are fixed: the host's text is cleared and nothing is renamed.
    virtual void setProgramName(char* name);
    virtual void getProgramName(char* name);
    virtual void getParameterLabel(VstInt32 index, char* label);
    virtual void getParameterDisplay(VstInt32 index, char* text);
    virtual void getParameterName(VstInt32 index, char* text);
    virtual float getVu();
    virtual VstInt32 getChunk(void** data, bool isPreset);
    virtual VstInt32 setChunk(void* data, VstInt32 byteSize, bool isPreset);
    virtual void setSampleRate(float sampleRate);
    virtual void setBlockSize(VstInt32 blockSize);
    // Host UI thread, never while processReplacing runs (the host's "mains off/on").
    virtual void suspend();
    virtual void resume();

    // Record settings, called from the effect's constructor.
    virtual void setUniqueID(VstInt32 id);
    virtual void setNumInputs(VstInt32 inputs);
    virtual void setNumOutputs(VstInt32 outputs);
    virtual void hasVu(bool state);
    virtual void hasClip(bool state);
    virtual void canMono(bool state);
    virtual void canProcessReplacing(bool state);
    virtual void programsAreChunks(bool state);
    virtual void setRealtimeQualities(VstInt32 qualities);
    virtual void setOfflineQualities(VstInt32 qualities);
    virtual void setInitialDelay(VstInt32 delay);

    virtual float getSampleRate();
    virtual VstInt32 getBlockSize();

    // Host queries through the callback; each has a default without a host.
    virtual VstInt32 getMasterVersion();
    virtual VstInt32 getCurrentUniqueId();
    virtual void masterIdle();
    virtual bool isInputConnected(VstInt32 input);
    virtual bool isOutputConnected(VstInt32 output);

    // Value-to-text, at most 8 characters plus the NUL (see ValueText.h).
    virtual void dB2string(float value, char* text);
    virtual void Hz2string(float samples, char* text);
    virtual void ms2string(float samples, char* text);
    virtual void float2string(float value, char* text);
    virtual void long2string(VstInt32 value, char* text);

    // The record handed to the host; it lives inside this object.
    AEffect* getAeffect() { return &cEffect; }

    // The library's entry point keeps the one object in `*holder`; destroying the
    // object clears it so that a later entry call never hands out a dead record.
    void setInstanceHolder(AudioEffect** holder) { instanceHolder = holder; }

protected:
    // Sets or clears one bit of the record's flags.
    void setFlag(VstInt32 flag, bool state);
    VstIntPtr callHost(VstInt32 opcode, VstInt32 index = 0, VstIntPtr value = 0, void* ptr = nullptr,
                       float opt = 0.0f);

    float sampleRate;
    AEffEditor* editor;
    audioMasterCallback audioMaster;
    VstInt32 numPrograms;
    VstInt32 numParams;
    VstInt32 curProgram;
    VstInt32 blockSize;
    AEffect cEffect;

private:
    AudioEffect** instanceHolder;

    AudioEffect(const AudioEffect&) = delete;
    AudioEffect& operator=(const AudioEffect&) = delete;
};

// Whether a sample rate from the host can be used (finite and positive); the
// effects keep their previous rate otherwise.
bool isUsableSampleRate(float rate);
