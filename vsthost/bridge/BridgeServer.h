#pragma once
// The bridge process's side: serves one plug-in to the program across the shared
// region. Its UI thread (the plug-in's main thread) answers the UI lane, its audio
// thread the audio lane; the plug-in's news and its editor's moves are kept here
// until the program's next Idle call asks for them. Portable.
#include <atomic>
#include <cstdint>

#include "BridgeCall.h"
#include "BridgeMessage.h"
#include "BridgeRegion.h"
#include "PluginInstance.h"

namespace bridge {

// The bridge's own top-level window that holds the plug-in's editor (the
// platform's). The program places and shows it; nothing of the program's is its
// parent or owner. UI thread, except where said.
class EditorWindowHost {
public:
    virtual ~EditorWindowHost() = default;
    // Opens the plug-in's editor in a new window, hidden until the program shows it;
    // programWindow is the program's top-level window it is kept above. false when
    // the plug-in would not open it.
    virtual bool open(PluginInstance& plugin, uint32_t programWindow, uint32_t* window, int32_t* width,
                      int32_t* height) = 0;
    virtual void close(PluginInstance& plugin) = 0;
    // Any thread: between open (from its start) and close.
    virtual bool isOpen() const = 0;
    // Any thread: the window takes the editor's new size (posted from other threads).
    virtual void takeSize(int32_t width, int32_t height) = 0;
};

class BridgeServer : public PluginHostEvents {
public:
    BridgeServer(Region* region, Doorbell& uiIn, Doorbell& uiOut, Doorbell& audioIn, Doorbell& audioOut);
    // The plug-in loaded with this server as its events; not owned.
    void attach(PluginInstance* plugin) { plugin_ = plugin; }
    // Without a plug-in: why it did not load, the answer to the program's Hello.
    void setLoadFailure(const char* reason);
    // Where the plug-in's editor is shown; not owned. Without one, no editor opens.
    void attachEditorWindow(EditorWindowHost* window) { editorWindow_ = window; }

    // The bridge's UI thread: answers calls until Quit or the program is gone.
    void serveUi();
    // The bridge's UI thread: answers the call waiting on the UI lane, if one is and
    // none is being answered. serveUi does; so does a timer of the bridge's inside a
    // modal loop of the plug-in's (a menu, a dialog of its editor), so that the
    // program's idle calls are answered while the user is in it.
    bool serveWaitingUi();
    // The bridge's audio thread: answers blocks until the program is gone or stop.
    // With an idler it looks for blocks at the pace they come rather than sleeping.
    void serveAudio(const std::atomic<bool>& stop, Idler* idler = nullptr);

    // PluginHostEvents, any thread of the plug-in's.
    void parameterEdited(int32_t index, float value) override;
    // The window takes the size; the program hears of it at its next idle call.
    bool editorResizeRequested(int32_t width, int32_t height) override;
    void latencyChanged() override { region_->news.fetch_or(kNewsLatency); }
    void parametersChanged() override { region_->news.fetch_or(kNewsParameters); }
    void restartRequested() override { region_->news.fetch_or(kNewsRestart); }
    void uiCallRequested() override { region_->news.fetch_or(kNewsUiCall); }
    double tempo() const override { return tempo_.load(std::memory_order_relaxed); }

    // Editor moves kept between Idle calls; moves of later parameters are not kept.
    static constexpr int32_t kEditedParameters = 1024;

private:
    bool answerUi(Command command, MessageReader& in, MessageWriter& out);
    bool answerEditor(Command command, MessageReader& in, MessageWriter& out);
    void keepEditorSize(int32_t width, int32_t height);
    void answerBlock();

    Region* region_;
    Doorbell& uiIn_;
    Doorbell& uiOut_;
    Doorbell& audioIn_;
    Doorbell& audioOut_;
    PluginInstance* plugin_ = nullptr;
    EditorWindowHost* editorWindow_ = nullptr;
    std::atomic<int32_t> editorWidth_{0}, editorHeight_{0};
    std::atomic<int32_t> maxFrames_{0};  // as configured; 0 while not
    std::atomic<double> tempo_{0.0};
    ByteRecord record_;      // a state going out or coming in, in pieces (UI thread)
    uint32_t restoreTotal_ = 0;
    uint32_t answeredUi_ = 0;  // UI thread
    bool servingUi_ = false;
    bool quit_ = false;
    uint8_t reply_[kUiPayloadBytes];
    char loadFailure_[400] = "it did not load in its process";
    std::atomic<float> edited_[kEditedParameters];
    std::atomic<uint32_t> editedBits_[kEditedParameters / 32];
};

}  // namespace bridge
