// The outcome of a lookup in one of the read-only formats.
#pragma once

namespace dbread {

enum class Lookup { kFound, kAbsent, kCorrupt };

}  // namespace dbread
