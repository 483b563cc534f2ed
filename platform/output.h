// Writing a whole result to a file descriptor. A host may take its first read as the whole
// answer, so a result leaves in one write(2): stdio would cut it into buffer-sized pieces on a
// Mac (1,024 bytes unbuffered).
#pragma once

#include <string_view>

// Writes every byte, carrying on after a partial write or an interrupted one, and waiting while
// a non-blocking descriptor is full; stops quietly at any other error (a host that stopped
// reading). True when every byte was written.
bool writeAll(int descriptor, std::string_view bytes);
