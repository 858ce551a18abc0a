// The live chain runs on the driver's thread: it must not allocate, lock or make a
// system call. These tests prove it for the chain with every stage switched on.
#include <gtest/gtest.h>

#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <new>

#include "ChainFixture.h"
#include "ClickSamples.h"
#include "MidiControl.h"
#include "SettingsApplier.h"
#include "SwitchPoint.h"
#include "TunerTap.h"

extern "C" void* __real_malloc(size_t);

namespace {

// From here on the calling thread may read, write and exit (its thread or its whole
// process); any other system call kills the process. A filter, unlike the strict
// mode, kills the whole process and lets it end with exit_group: under
// ThreadSanitizer a forked child has a thread of the sanitizer's own, and ending
// only the calling thread would leave the child running.
bool allowOnlyReadWriteAndExit() {
    struct sock_filter code[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_read, 4, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_write, 3, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_exit, 2, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_exit_group, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_KILL_PROCESS),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    struct sock_fprog program = {static_cast<unsigned short>(sizeof code / sizeof code[0]), code};
    return prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 && prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
}

std::atomic<bool> g_counting{false};
std::atomic<int> g_allocations{0};

void* countedAllocation(std::size_t size) {
    if (g_counting)
        ++g_allocations;
    return __real_malloc(size ? size : 1);
}
}  // namespace

void* operator new(std::size_t size) { return countedAllocation(size); }
void* operator new[](std::size_t size) { return countedAllocation(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return countedAllocation(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return countedAllocation(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

extern "C" {
void* __real_malloc(size_t);
void* __real_calloc(size_t, size_t);
void* __real_realloc(void*, size_t);
void* __wrap_malloc(size_t n) {
    if (g_counting)
        ++g_allocations;
    return __real_malloc(n);
}
void* __wrap_calloc(size_t n, size_t m) {
    if (g_counting)
        ++g_allocations;
    return __real_calloc(n, m);
}
void* __wrap_realloc(void* p, size_t n) {
    if (g_counting)
        ++g_allocations;
    return __real_realloc(p, n);
}
}

namespace {

// A chain with everything on: gate, DC filter, gains, metronome, a recorder and
// accompaniment stage attached that do nothing, the tuner listening with the output
// and the take muted (its ring fills and then drops, as with no reader), MIDI control
// with bindings and a script, and the performance switch.
struct BusyChain : ChainRecorder, ChainAccompaniment {
    LiveSettings settings;
    LiveChain chain{&settings};
    TunerTap tuner;
    MidiControl midi;
    SettingsApplier applier{settings};
    SwitchPoint point;
    SwitchSet empty;
    MidiScript script;
    int recorded = 0, mixed = 0;
    BusyChain() {
        midi.attachAppliers(&applier, nullptr);
        midi.setProgramBindings({{{MidiSourceKind::Controller, 7, kAnyChannel},
                                  controlTarget(ProgramControl::OutputGain), BindingBehaviour::Continuous},
                                 {{MidiSourceKind::Note, 40, kAnyChannel}, commandTarget(ProgramCommand::Play),
                                  BindingBehaviour::Momentary}});
        MidiScriptError error;
        const char text[] = "0 B0 07 60\n0.01 C0 03\n0.02 90 28 40\n0.03 80 28 00\n";
        parseMidiScript(text, sizeof text - 1, script, error);
        midi.playScript(&script);
        chain.attachMidi(&midi);
        chain.attachSwitch(&point);
        chain.setClick(kClickSamples, sizeof kClickSamples);
        chain.attachRecorder(this);
        chain.attachAccompaniment(this);
        tuner.setListening(true);
        tuner.setMuteRecording(true);
        chain.attachTuner(&tuner);
        chain.prepareForStart(48000.0);
        settings.metronome = 1;
        settings.ingain = 0.9f;
    }
    bool tapsBeforeAccompaniment() const override { return false; }
    void recordBlock(float* const*, int32_t, int32_t, float, float) override { ++recorded; }
    bool mixAccompaniment(float* const*, int32_t, int32_t, float, float) override { return ++mixed > 0; }
};

}  // namespace

TEST(Realtime, ProcessBlockAllocatesNothing) {
    BusyChain busy;
    DriverBuffers io(kAsioInt24LSB, 2, 2, 5000);
    io.setInput(0, std::vector<float>(5000, 0.25f));
    io.process(busy.chain);  // warm up outside the counted region

    // Driver callbacks of several lengths, built by hand so that only the chain runs
    // inside the counted region.
    const int pieces[] = {5000, 1024, 3976, 7, 4993};
    uint8_t* in = const_cast<uint8_t*>(io.outputBytes(0).data());
    uint8_t* out = const_cast<uint8_t*>(io.outputBytes(1).data());
    g_allocations = 0;
    g_counting = true;
    uint32_t installedAs = 0;
    for (int round = 0; round < 50; ++round) {
        // Controller moves from a device, and a switch now and then (its tail rings
        // and is retired within the region).
        for (uint8_t v = 0; v < 40; ++v)
            busy.midi.deviceFeed(1).shortMessage(0xB0u | (7u << 8) | (uint32_t(v + 60) << 16), 0);
        SwitchSet retired;
        while (busy.point.takeRetired(retired)) {
        }
        if (round % 10 == 3)
            busy.point.post(&busy.empty, 0.2, installedAs);
        for (int n : pieces) {
            ChannelBuffer ins[3] = {{io.format(), 0, in}, {io.format(), 0, in}, {}};
            ChannelBuffer outs[3] = {{io.format(), 0, out}, {io.format(), 0, out}, {}};
            busy.chain.processBlock(ins, outs, n);
        }
    }
    g_counting = false;
    EXPECT_EQ(g_allocations.load(), 0);
    EXPECT_EQ(busy.point.switchesInstalled(), 5u);
    EXPECT_EQ(busy.midi.messagesHandled(), 50u * 40u + 4u);
    EXPECT_GT(busy.recorded, 0);
    EXPECT_GT(busy.mixed, 0);

    // The counter itself works: an allocation inside the region is seen.
    g_counting = true;
    delete new int(3);
    g_counting = false;
    EXPECT_EQ(g_allocations.load(), 1);
}

TEST(Realtime, ProcessBlockMakesNoSystemCall) {
    BusyChain busy;
    DriverBuffers io(kAsioFloat32LSB, 2, 2, 3000);
    io.setInput(0, std::vector<float>(3000, 0.5f));
    io.process(busy.chain);  // warm up

    // In a child under seccomp, any system call but read, write and exit kills the
    // process.
    auto runStrict = [&](bool makeACall) {
        const pid_t pid = fork();
        if (pid == 0) {
            if (!allowOnlyReadWriteAndExit())
                syscall(SYS_exit_group, 3);
            uint32_t installedAs = 0;
            busy.point.post(&busy.empty, 0.01, installedAs);
            for (int i = 0; i < 20; ++i) {
                busy.midi.deviceFeed(0).shortMessage(0xB0u | (7u << 8) | (uint32_t(i) << 16), 0);
                ChannelBuffer ins[3] = {}, outs[3] = {};
                ins[0] = ChannelBuffer{io.format(), 0, const_cast<uint8_t*>(io.outputBytes(0).data())};
                outs[0] = ChannelBuffer{io.format(), 0, const_cast<uint8_t*>(io.outputBytes(1).data())};
                busy.chain.processBlock(ins, outs, 3000);
            }
            if (makeACall)
                syscall(SYS_getpid);
            syscall(SYS_exit_group, 0);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        return status;
    };
    const int clean = runStrict(false);
    EXPECT_TRUE(WIFEXITED(clean) && WEXITSTATUS(clean) == 0) << "status " << clean;
    // The method catches a real call.
    const int caught = runStrict(true);
    EXPECT_TRUE(WIFSIGNALED(caught)) << "status " << caught;
}
