// Opening files whose names come from outside the program (the command line, the environment, a
// show or its project: shows, projects, colour profiles, later fonts, sounds and videos) so that no
// name can make the player wait or read without end. The open never blocks (a FIFO without a
// writer, a terminal); anything but a regular file is refused (a folder, a FIFO, a device such as
// /dev/zero, a socket), also behind a symbolic link; whole-file reads stop at a cap that fits the
// kind of file. Every function may be called from any thread.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace kiv {

// The largest colour profile the player reads; display and working-space profiles are far smaller.
inline constexpr std::int64_t kMaxColorProfileBytes = std::int64_t{4} << 20;

// Opens `name` with the open(2) `flags` (O_RDONLY, O_WRONLY | O_CREAT, ...) and `mode`, adding
// O_CLOEXEC and O_NOCTTY, without blocking; the descriptor that comes back blocks again as usual.
// Raises EFileOpenError (message: the name; Cause(): why) when the file cannot be opened or is not
// a regular file. The caller closes the descriptor.
int OpenRegularFile(const std::string& name, int flags, mode_t mode = 0666);

// All bytes of the regular file `name`. Raises EFileOpenError (message: the name) when it cannot be
// opened, is not a regular file or holds more than `limit` bytes, EFileReadError when reading fails.
std::vector<std::uint8_t> ReadRegularFile(const std::string& name, std::int64_t limit);

// Why `name` cannot be read as a regular file, in words for a person ("is a folder", "is a named
// pipe (FIFO), not a regular file", "No such file or directory"); empty when it can. Never blocks.
std::string RegularFileProblem(const std::string& name);

} // namespace kiv
