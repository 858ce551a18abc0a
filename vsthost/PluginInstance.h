#pragma once
// The one seam between the effect host and a loaded plug-in, whatever its format and
// wherever it runs (in this process or another). The host, its windows, the
// performance files and the rig speak only this; each format is a backend beneath it.
// Portable: no platform header, window handles are plain pointers.
#include <cstddef>
#include <cstdint>

// A growable byte string for state records and other answers whose length the host
// does not know beforehand. Allocation failure is reported, never thrown.
class ByteRecord {
public:
    ByteRecord() = default;
    ~ByteRecord() { delete[] bytes_; }
    ByteRecord(const ByteRecord&) = delete;
    ByteRecord& operator=(const ByteRecord&) = delete;

    const uint8_t* data() const { return bytes_; }
    size_t size() const { return size_; }
    void clear() { size_ = 0; }
    // Empties the record and gives its memory back.
    void release() {
        delete[] bytes_;
        bytes_ = nullptr;
        size_ = capacity_ = 0;
    }
    // False (and nothing appended) when memory ran out or the record would pass limit.
    bool append(const void* bytes, size_t count, size_t limit = kDefaultLimit);

    static constexpr size_t kDefaultLimit = size_t(64) << 20;  // 64 MiB: no state is larger

private:
    uint8_t* bytes_ = nullptr;
    size_t size_ = 0;
    size_t capacity_ = 0;
};

// What the user is shown of a plug-in and what a performance stores to find it again.
// Every text is NUL-terminated and cut to its field; none comes from the plug-in
// unchecked.
struct PluginIdentity {
    char name[64];
    char vendor[64];
    char format[8];     // the format's short label as shown: "VST 2", "VST3", "CLAP"
    char classId[80];   // the class within the file, as the format names it (text)
    bool instrument;    // it makes sound of its own (a synthesizer): this host runs effects only
};

// What the host tells every plug-in alike, whether or not it has an instance yet (a
// plug-in may ask from inside its entry point). Any thread; waits for nothing.
class PluginHostInfo {
public:
    virtual ~PluginHostInfo() = default;
    virtual double sampleRate() const = 0;
    virtual int32_t maxBlockFrames() const = 0;
    virtual double tempo() const = 0;  // beats a minute
};

// What a plug-in tells its host. The plug-in may call from any thread, the audio
// thread included: implementations only record the news (atomics, a post to the UI
// thread) and never wait or allocate. The host applies it on the UI thread.
class PluginHostEvents {
public:
    virtual ~PluginHostEvents() = default;
    // A parameter moved in the plug-in's own editor (normalised 0..1).
    virtual void parameterEdited(int32_t index, float value) = 0;
    // The editor asks for a new size of its view, in pixels. True when it will be given.
    virtual bool editorResizeRequested(int32_t width, int32_t height) = 0;
    // Latency, parameter list or bus layout changed: the host re-reads them at its next
    // chance on the UI thread (and restarts processing where the format asks for it).
    virtual void latencyChanged() = 0;
    virtual void parametersChanged() = 0;
    virtual void restartRequested() = 0;
    // The plug-in wants a call on the UI thread (idle, a main-thread callback).
    virtual void uiCallRequested() = 0;
    // What the plug-in may ask of its host at any time: the tempo in beats a minute.
    virtual double tempo() const = 0;
};

// One loaded plug-in instance. Each member names its thread; a call from another
// thread is a fault of the host (backends check it where the format's rules matter).
// Processing runs only between resume and suspend.
class PluginInstance {
public:
    // UI thread: closes the editor, suspends if needed and releases the plug-in.
    virtual ~PluginInstance() = default;

    // --- any thread; fixed after loading ---
    virtual const PluginIdentity& identity() const = 0;
    // Channels of the main input and output as the plug-in declares them; the host
    // runs only plug-ins with 1 or 2 of each and passes the signal by the others.
    virtual int32_t inputCount() const = 0;
    virtual int32_t outputCount() const = 0;

    // --- UI thread, while no process call runs ---
    // The host's rate and the most frames one process call will carry. Called once
    // after loading and again when either changes; a backend whose format needs it
    // suspended for this does so itself.
    virtual bool configure(double sampleRate, int32_t maxBlockFrames) = 0;
    // Switches processing on and off; each is told to the plug-in every time it is
    // called (the host keeps track of which state it wants).
    virtual bool resume() = 0;
    virtual void suspend() = 0;
    // Why the last of configure, resume and restoreState that returned false failed,
    // as a reason the host shows after the plug-in's path, like load's failure; empty
    // where the format tells nothing. Valid until the next call.
    virtual const char* lastFailure() const { return ""; }
    // Frames the plug-in delays its output by.
    virtual int32_t latencyFrames() const = 0;
    // Any thread: true once the plug-in can no longer be run (its process crashed or
    // stopped answering); how then says what happened, as the end of a sentence that
    // starts with its name ("crashed."). The host passes its signal through dry.
    virtual bool failed(char* /*how*/, size_t /*size*/) const { return false; }

    // --- audio thread, between resume and suspend; allocates nothing, waits for nothing ---
    // inputs and outputs may be the same buffers (in place). frames never exceeds
    // configure's maxBlockFrames.
    virtual void process(float* const* inputs, float* const* outputs, int32_t frames) = 0;
    // The next process call is near (the positions before this one are being run): a
    // plug-in in another process can be woken meanwhile. Returns at once.
    virtual void blockComing() {}

    // --- parameters, UI thread ---
    virtual int32_t parameterCount() const = 0;
    virtual bool parameterName(int32_t index, char* text, size_t size) const = 0;
    virtual float parameterValue(int32_t index) const = 0;  // normalised 0..1
    virtual bool parameterValueText(int32_t index, char* text, size_t size) const = 0;
    // The unit shown after the value text ("dB", "ms"); empty where the format puts it
    // in the value text itself.
    virtual bool parameterUnit(int32_t /*index*/, char* text, size_t size) const {
        if (size)
            text[0] = '\0';
        return false;
    }
    // Reaches the audio at the next block.
    virtual void setParameterValue(int32_t index, float value) = 0;
    // Audio thread, between two process calls (MIDI control): the value reaches the
    // next process call. False where the format allows it on the UI thread alone;
    // the host then asks the UI thread. Allocates nothing, waits for nothing.
    virtual bool setParameterInProcess(int32_t /*index*/, float /*value*/) { return false; }

    // --- programs, UI thread ---
    virtual int32_t programCount() const = 0;
    virtual bool programName(int32_t index, char* text, size_t size) const = 0;
    virtual int32_t currentProgram() const = 0;
    virtual bool selectProgram(int32_t index) = 0;

    // --- state as one byte record, UI thread ---
    // Replaces record with the plug-in's state. False when the state could not be
    // taken whole: record then holds what stands in for it (it may be empty when
    // memory ran out) and failure says what the plug-in did, as the end of a sentence
    // that starts with its name ("gave a state of 10 bytes without its data.").
    virtual bool saveState(ByteRecord& record, char* failure, size_t failureSize) = 0;
    // False when the record does not read; the plug-in is then left as it was where
    // the format allows.
    virtual bool restoreState(const uint8_t* data, size_t size) = 0;

    // --- editor, UI thread ---
    virtual bool hasEditor() const = 0;
    // Embeds the editor in parent (an HWND); width and height get its size.
    virtual bool openEditor(void* parent, int32_t* width, int32_t* height) = 0;
    virtual void closeEditor() = 0;
    // The host's frame was resized by the user; the plug-in may adjust the size.
    virtual bool resizeEditor(int32_t* width, int32_t* height) = 0;
    // The host's frame moved, was shown, hidden, covered or brought up: an editor in a
    // window of its own (another process's) follows it there.
    virtual void editorFrameChanged() {}
    // Whether window (an HWND) is one of the editor's own where the editor is a window
    // of another process's: the editor itself, or a menu or dialog it opened.
    virtual bool ownsEditorWindow(void* /*window*/) const { return false; }
    // The UI thread's periodic call, and the answer to uiCallRequested.
    virtual void uiIdle() = 0;
};

// One plug-in format: recognises its files and loads them. UI thread, except what
// the scan asks (formatLabel, recognises, scanFolder, isBundle, scanLists), which
// comes from the scan thread and reads nothing that loading changes.
class PluginFormatBackend {
public:
    static constexpr int32_t kMaxScanFolders = 32;
    virtual ~PluginFormatBackend() = default;
    // The label shown beside plug-ins of this format, as in PluginIdentity::format.
    virtual const char* formatLabel() const = 0;
    // By the path's shape alone (extension, bundle layout); loads nothing.
    virtual bool recognises(const char* path) const = 0;

    // --- the plug-in scan; nothing here loads a plug-in ---
    // Folder index (0 to kMaxScanFolders - 1) where this format's plug-ins are
    // installed besides the program's and the user's plug-in folders, ending in a
    // backslash. False where there is none (an index may be empty while a later one is
    // not: a variable that is not set on this system).
    virtual bool scanFolder(int32_t /*index*/, char* /*path*/, size_t /*size*/) const { return false; }
    // A directory that is itself one plug-in (a bundle): listed, never walked into.
    virtual bool isBundle(const char* /*directoryPath*/) const { return false; }
    // A file the scan lists, by its name alone. recognises unless the format's
    // scan is stricter than its loading.
    virtual bool scanLists(const char* fileName) const { return recognises(fileName); }

    // Loads the effect class classId of the file (empty: its first effect class). Null
    // on failure, with failure holding the reason (what failed, never the path: the
    // host adds that). events outlives the instance. The caller owns the result.
    virtual PluginInstance* load(const char* path, const char* classId, PluginHostEvents* events, char* failure,
                                 size_t failureSize) = 0;
};
