// File channels: numbered handles on open files, owned by a memory group.
//
// Reads and writes are buffered in user space (one buffer a channel, taken
// from the channel's group when a buffered read or write first needs it),
// so reading a file line by line or byte by byte costs one system call a
// buffer, not one a byte. Failures are negative
// error numbers: 20 missing file, 27 access refused, 29 too many open files,
// 60 no free channel; other errno values are translated. Opens, reads,
// writes and renames are fault points (base/faults.h).
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr int kMaxChannels = 256;
inline constexpr std::size_t kChannelBuffer = 16384;

// Prepares the channel table for `count` channels (grows on demand).
int ini_adf(int count);

// Opens `path` for "r" (read), "w" (write, truncate) or "a" (append); a "+"
// adds the other direction. Returns the channel number (1 or more).
// REQUIRES: the channel is closed before its group is released.
int adf_open(unsigned group, const char* path, const char* mode);

// Reads one line: bytes up to and including `terminator`, at most `max`
// bytes, stored in `buffer` followed by a NUL. Returns the byte count (the
// terminator included when it was met), 0 at end of file.
// REQUIRES: buffer holds max + 1 bytes; max >= 1.
int adf_uget(int channel, char* buffer, int max, int terminator);
// adf_uget without the copy: *line points at the bytes in the channel's
// buffer when they lie there whole, else at `scratch`, which they were
// copied into. Not NUL-terminated; valid until the channel's next call.
// REQUIRES: scratch has room for max + 1 bytes.
int adf_uview(int channel, char* scratch, int max, int terminator, const char** line);
// Writes `length` bytes, then `terminator` unless it is negative.
int adf_uput(int channel, const char* buffer, int length, int terminator);
// Reads up to `length` bytes; the count read, 0 at end of file.
int adf_read(int channel, void* buffer, int length);
int adf_write(int channel, const void* buffer, int length);
// Positions the channel (SEEK_SET, SEEK_CUR, SEEK_END); the new offset.
std::int64_t adf_seek(int channel, std::int64_t offset, int whence);
std::int64_t adf_tell(int channel);
// Reads what the file holds after the channel's position, at most
// `length` bytes, with one read of the file: following a file that another
// process writes, 0 means that nothing more is there yet.
int adf_take(int channel, void* buffer, int length);
// Marks the file for deletion when its channel is closed.
int adf_ulnk(int channel);
// Renames a file; 0 or an error.
int adf_rename(const char* from, const char* to);
// Flushes pending writes, closes (retrying while interrupted), deletes a
// marked file. Returns 0 or the first error met.
int adf_close(int channel);
// Makes a channel over a descriptor already open (a pipe's read end, say)
// for "r" or "w". A `child` above 0 is waited for when the channel closes.
int adf_attach(unsigned group, int fd, int child, const char* mode, const char* name);
// Wait status of the child reaped by the last close of a command channel.
int adf_last_status();
// Descriptor of an open channel, or -1.
int adf_fd(int channel);
// Channels open now.
int adf_count();
