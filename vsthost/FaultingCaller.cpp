#include "FaultingCaller.h"

#include <cstdint>

#include "WinInclude.h"

namespace {

// The thread's stack as its own thread information block bounds it.
struct StackBounds {
    uintptr_t low = 0, high = 0;
    bool holds(uintptr_t address, size_t bytes) const {
        return address >= low && address <= high && high - address >= bytes;
    }
};

// GCC takes the segment-relative read of the block's address for an access of a
// constant address and warns of it.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Warray-bounds"
StackBounds currentThreadStack() {
    const NT_TIB* tib = reinterpret_cast<const NT_TIB*>(NtCurrentTeb());
    return {reinterpret_cast<uintptr_t>(tib->StackLimit), reinterpret_cast<uintptr_t>(tib->StackBase)};
}
#pragma GCC diagnostic pop

// Committed and readable, page by page (a region may end inside the range).
bool readable(uintptr_t address, size_t bytes) {
    const uintptr_t end = address + bytes;
    if (end < address)
        return false;
    while (address < end) {
        MEMORY_BASIC_INFORMATION region;
        if (VirtualQuery(reinterpret_cast<const void*>(address), &region, sizeof region) != sizeof region)
            return false;
        const DWORD readableKinds = PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READ |
                                    PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
        if (region.State != MEM_COMMIT || (region.Protect & PAGE_GUARD) || !(region.Protect & readableKinds))
            return false;
        const uintptr_t regionEnd = reinterpret_cast<uintptr_t>(region.BaseAddress) + region.RegionSize;
        if (regionEnd <= address)
            return false;
        address = regionEnd;
    }
    return true;
}

// The executable section of a loaded module's image holding `address`: [start, end).
// The headers are the loader's mapping, still read only after checking.
bool codeSectionAt(uintptr_t address, uintptr_t& start, uintptr_t& end) {
    HMODULE module = nullptr;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCSTR>(address), &module) ||
        !module)
        return false;
    const uintptr_t base = reinterpret_cast<uintptr_t>(module);
    if (!readable(base, sizeof(IMAGE_DOS_HEADER)))
        return false;
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    if (dos->e_magic != IMAGE_DOS_SIGNATURE || dos->e_lfanew <= 0 || dos->e_lfanew > 0x10000000)
        return false;
    const uintptr_t ntAt = base + uintptr_t(dos->e_lfanew);
    if (!readable(ntAt, sizeof(IMAGE_NT_HEADERS)))
        return false;
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(ntAt);
    if (nt->Signature != IMAGE_NT_SIGNATURE)
        return false;
    const WORD sections = nt->FileHeader.NumberOfSections;
    const auto* section = IMAGE_FIRST_SECTION(nt);
    if (!readable(reinterpret_cast<uintptr_t>(section), sizeof(IMAGE_SECTION_HEADER) * sections))
        return false;
    const uintptr_t imageEnd = base + nt->OptionalHeader.SizeOfImage;
    for (WORD i = 0; i < sections; ++i, ++section) {
        if (!(section->Characteristics & IMAGE_SCN_MEM_EXECUTE))
            continue;
        const uintptr_t from = base + section->VirtualAddress;
        const uintptr_t size = section->Misc.VirtualSize ? section->Misc.VirtualSize : section->SizeOfRawData;
        const uintptr_t to = from + size < imageEnd ? from + size : imageEnd;
        if (address >= from && address < to) {
            start = from;
            end = to;
            return true;
        }
    }
    return false;
}

// The length of an FF /2 (near indirect call) instruction from its opcode byte, by
// its ModRM byte; 0 when the byte after FF is not a /2.
int indirectCallLength(uint8_t modrm, uint8_t sib) {
    if (((modrm >> 3) & 7) != 2)
        return 0;
    const int mod = modrm >> 6, rm = modrm & 7;
    if (mod == 3)
        return 2;
    const int sibBytes = rm == 4 ? 1 : 0;
    int displacement = mod == 1 ? 1 : mod == 2 ? 4 : 0;
    if (mod == 0 && (rm == 5 || (rm == 4 && (sib & 7) == 5)))
        displacement = 4;
    return 2 + sibBytes + displacement;
}

constexpr int kLongestCall = 7;  // FF /2 with a SIB byte and a 32-bit displacement

#if defined(_WIN64)
// RtlVirtualUnwind reads the frame's saved registers and return address just above its
// stack pointer: a frame is only unwound while that much of it lies on the stack.
constexpr size_t kLeastFrame = sizeof(void*);

bool walkByUnwindTables(CONTEXT context, const StackBounds& stack, FaultingCallerDecides decides, void* user) {
    for (int frame = 0; frame < kMaxFaultingCallers; ++frame) {
        const DWORD64 stackBefore = context.Rsp;
        if (!stack.holds(uintptr_t(context.Rsp), kLeastFrame))
            return false;
        DWORD64 imageBase = 0;
        PRUNTIME_FUNCTION function = RtlLookupFunctionEntry(context.Rip, &imageBase, nullptr);
        if (function) {
            void* handlerData = nullptr;
            DWORD64 establisher = 0;
            RtlVirtualUnwind(UNW_FLAG_NHANDLER, imageBase, context.Rip, function, &context, &handlerData,
                             &establisher, nullptr);
        } else {
            // A leaf, or code that is no function at all (a call through garbage): the
            // return address is where the call left it, and is believed only if it is one.
            const DWORD64 returnAddress = *reinterpret_cast<const DWORD64*>(uintptr_t(context.Rsp));
            if (!returnsAfterACall(reinterpret_cast<const void*>(uintptr_t(returnAddress))))
                return false;
            context.Rip = returnAddress;
            context.Rsp += sizeof(DWORD64);
        }
        // Each caller's frame lies further up the stack; anything else is a broken chain.
        if (context.Rip == 0 || context.Rsp <= stackBefore || !stack.holds(uintptr_t(context.Rsp), 0))
            return false;
        if (decides(reinterpret_cast<const void*>(uintptr_t(context.Rip)), user))
            return true;
    }
    return false;
}
#else
bool scanForReturnAddresses(const CONTEXT& context, const StackBounds& stack, FaultingCallerDecides decides,
                            void* user) {
    uintptr_t at = uintptr_t(context.Esp) & ~uintptr_t(3);
    if (!stack.holds(at, sizeof(DWORD)))
        return false;
    int offered = 0;
    for (; stack.holds(at, sizeof(DWORD)) && offered < kMaxFaultingCallers; at += sizeof(DWORD)) {
        const void* word = reinterpret_cast<const void*>(uintptr_t(*reinterpret_cast<const DWORD*>(at)));
        if (!returnsAfterACall(word))
            continue;  // data, or a function pointer: nothing returns there
        ++offered;
        if (decides(word, user))
            return true;
    }
    return false;
}
#endif

}  // namespace

bool returnsAfterACall(const void* code) {
    const uintptr_t address = reinterpret_cast<uintptr_t>(code);
    uintptr_t start = 0, end = 0;
    if (address < 2 || !codeSectionAt(address - 1, start, end))
        return false;
    // The bytes just before it, inside the same code section.
    const uintptr_t from = address - start >= uintptr_t(kLongestCall) ? address - kLongestCall : start;
    if (address - from < 2 || !readable(from, address - from))
        return false;
    return bytesEndWithACall(reinterpret_cast<const uint8_t*>(from), int(address - from));
}

bool bytesEndWithACall(const uint8_t* bytes, int count) {
    if (!bytes || count < 2)
        return false;
    if (count >= 5 && bytes[count - 5] == 0xE8)
        return true;
    for (int length = 2; length <= count && length <= kLongestCall; ++length) {
        const uint8_t* call = bytes + (count - length);
        const uint8_t sib = length >= 3 ? call[2] : 0;
        if (call[0] == 0xFF && indirectCallLength(call[1], sib) == length)
            return true;
    }
    return false;
}

bool findFaultingCaller(const CONTEXT& faulted, FaultingCallerDecides decides, void* user) {
    if (!decides)
        return false;
    const StackBounds stack = currentThreadStack();
#if defined(_WIN64)
    return walkByUnwindTables(faulted, stack, decides, user);
#else
    return scanForReturnAddresses(faulted, stack, decides, user);
#endif
}
