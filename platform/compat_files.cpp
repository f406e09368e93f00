// Integer-handle file calls over POSIX descriptors.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "platform/compat_state.h"
#include "platform/platform.h"

namespace {

// Like ReadFile on a disk file, a read returns short only at the end of the file.
ssize_t ReadFully(int descriptor, uint8_t* buffer, size_t byte_count) {
  size_t done = 0;
  while (done < byte_count) {
    ssize_t got = read(descriptor, buffer + done, byte_count - done);
    if (got < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (got == 0) break;
    done += static_cast<size_t>(got);
  }
  return static_cast<ssize_t>(done);
}

ssize_t WriteFully(int descriptor, const uint8_t* buffer, size_t byte_count) {
  size_t done = 0;
  while (done < byte_count) {
    ssize_t put = write(descriptor, buffer + done, byte_count - done);
    if (put < 0) {
      if (errno == EINTR) continue;
      return done > 0 ? static_cast<ssize_t>(done) : -1;
    }
    done += static_cast<size_t>(put);
  }
  return static_cast<ssize_t>(done);
}

}  // namespace

HFILE _lopen(LPCSTR path, int read_write) {
  if (path == nullptr || compat::detail::ShouldFail(compat::Call::Open)) return HFILE_ERROR;
  int access = O_RDONLY;
  if ((read_write & 3) == OF_WRITE) access = O_WRONLY;
  if ((read_write & 3) == OF_READWRITE) access = O_RDWR;
  int descriptor = open(path, access | O_CLOEXEC);
  if (descriptor < 0) return HFILE_ERROR;
  // Windows does not open directories as files.
  struct stat info {};
  if (fstat(descriptor, &info) != 0 || S_ISDIR(info.st_mode)) {
    close(descriptor);
    return HFILE_ERROR;
  }
  compat::detail::FileOpened(descriptor);
  return descriptor;
}

HFILE _lcreat(LPCSTR path, int /*attribute*/) {
  if (path == nullptr || compat::detail::ShouldFail(compat::Call::Create)) return HFILE_ERROR;
  int descriptor = open(path, O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (descriptor < 0) return HFILE_ERROR;
  compat::detail::FileOpened(descriptor);
  return descriptor;
}

UINT _lread(HFILE file, LPVOID buffer, UINT byte_count) {
  if (!compat::detail::IsOpenFile(file) || compat::detail::ShouldFail(compat::Call::Read)) {
    return static_cast<UINT>(HFILE_ERROR);
  }
  ssize_t got = ReadFully(file, static_cast<uint8_t*>(buffer), byte_count);
  return got < 0 ? static_cast<UINT>(HFILE_ERROR) : static_cast<UINT>(got);
}

UINT _lwrite(HFILE file, LPCSTR buffer, UINT byte_count) {
  if (!compat::detail::IsOpenFile(file) || compat::detail::ShouldFail(compat::Call::Write)) {
    return static_cast<UINT>(HFILE_ERROR);
  }
  UINT allowed = compat::detail::TakeWriteLimit(byte_count);
  ssize_t put = WriteFully(file, reinterpret_cast<const uint8_t*>(buffer), allowed);
  return put < 0 ? static_cast<UINT>(HFILE_ERROR) : static_cast<UINT>(put);
}

LONG _llseek(HFILE file, LONG offset, int origin) {
  if (!compat::detail::IsOpenFile(file) || compat::detail::ShouldFail(compat::Call::Seek)) {
    return HFILE_ERROR;
  }
  int whence = origin == FILE_END ? SEEK_END : origin == FILE_CURRENT ? SEEK_CUR : SEEK_SET;
  off_t position = lseek(file, offset, whence);
  // A position that the 32-bit result cannot carry is reported as a failure rather than wrapped.
  if (position < 0 || position >= static_cast<off_t>(UINT32_MAX)) return HFILE_ERROR;
  return static_cast<LONG>(static_cast<uint32_t>(position));
}

HFILE _lclose(HFILE file) {
  if (!compat::detail::FileClosed(file)) return HFILE_ERROR;
  close(file);
  return 0;
}
