// Reads local text files of sites one line at a time. Up to 25 files are open at once,
// addressed by slot numbers 1..25 (0 = no slot).
#pragma once

#include <span>
#include <string>

namespace sitelists {

constexpr int kLineFileSlots = 25;
constexpr std::size_t kLineBufferSize = 4096;  // a longer line comes in pieces of 4095

// A slot number, or 0 when every slot is in use or the file cannot be opened.
int OpenLineFile(const std::string& path);
// Puts the next line (cut at its first CR or LF) into `buffer`, zero-filled, at most
// buffer.size() - 1 characters, and returns that length; -1 at the end of the file,
// -2 on a read error, 0 for a slot number outside 1..25 or a free slot.
int ReadLine(int slot, std::span<char> buffer);
// The same into a string, kept to size - 1 characters.
int ReadLine(int slot, std::string& line, std::size_t size);
// Closes the slot's file; slot numbers outside 1..25 are ignored.
void CloseLineFile(int slot);

// Closes every slot.
void ResetLineFiles();

}  // namespace sitelists
