#include "sitelists/line_reader.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <memory>

#include "platform/process_state.h"

namespace sitelists {
namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

struct LineReaderState {
    std::array<std::unique_ptr<std::FILE, FileCloser>, kLineFileSlots> slots;
    std::array<char, kLineBufferSize> line{};
};
LineReaderState g_lines;

std::FILE* SlotFile(int slot) {
    if (slot < 1 || slot > kLineFileSlots) return nullptr;
    return g_lines.slots[static_cast<std::size_t>(slot - 1)].get();
}

// Reads the next piece into the shared buffer: its length, or -1 / -2.
int NextLine(std::FILE* f) {
    char* line = g_lines.line.data();
    if (std::fgets(line, static_cast<int>(kLineBufferSize), f) == nullptr)
        return std::feof(f) ? -1 : -2;
    return static_cast<int>(std::strcspn(line, "\r\n"));
}

}  // namespace

int OpenLineFile(const std::string& path) {
    for (int slot = 1; slot <= kLineFileSlots; ++slot) {
        auto& held = g_lines.slots[static_cast<std::size_t>(slot - 1)];
        if (held) continue;
        held.reset(std::fopen(path.c_str(), "r"));
        return held ? slot : 0;
    }
    return 0;
}

int ReadLine(int slot, std::span<char> buffer) {
    std::FILE* f = SlotFile(slot);
    if (f == nullptr) return 0;
    int length = NextLine(f);
    if (length < 0) return length;
    std::fill(buffer.begin(), buffer.end(), '\0');
    if (buffer.empty()) return 0;
    std::size_t kept = std::min(static_cast<std::size_t>(length), buffer.size() - 1);
    std::memcpy(buffer.data(), g_lines.line.data(), kept);
    return static_cast<int>(kept);
}

int ReadLine(int slot, std::string& line, std::size_t size) {
    std::FILE* f = SlotFile(slot);
    line.clear();
    if (f == nullptr) return 0;
    int length = NextLine(f);
    if (length < 0) return length;
    std::size_t kept = size == 0 ? 0 : std::min(static_cast<std::size_t>(length), size - 1);
    line.assign(g_lines.line.data(), kept);
    return static_cast<int>(kept);
}

void CloseLineFile(int slot) {
    if (slot < 1 || slot > kLineFileSlots) return;
    g_lines.slots[static_cast<std::size_t>(slot - 1)].reset();
}

void ResetLineFiles() { g_lines = LineReaderState{}; }
namespace {
const platform::StateReset kResetLineFiles{platform::StateLayer::kSitelists, &ResetLineFiles};
}  // namespace

}  // namespace sitelists
