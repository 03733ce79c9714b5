// Files: CreateFileA and friends over POSIX file descriptors.
//
// Windows refuses an open that conflicts with the access and sharing of a
// handle already open on the same file; the recorder's files are opened with
// deliberate share modes, so this layer keeps the open handles of the
// process per file and applies the same rule (other processes are not
// seen). A file lengthened by SetEndOfFile gets its space allocated, as
// NTFS does, because reserve files exist to hold disk space.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <unordered_set>
#include <vector>

#include "internal.h"

namespace platform {
namespace posix {

namespace {

struct File : Object {
  File() : Object(Kind::File) {}
  // CloseHandle deletes the object: the descriptor goes with it.
  ~File() override {
    if (fd >= 0) close(fd);
  }
  int fd = -1;
  dev_t dev = 0;
  ino_t ino = 0;
  DWORD access = 0;
  DWORD share = 0;
  std::string path;
};

// The tables are never destroyed: handles may stay open to the end of the
// process (the guard mutex does), and are then still looked up and found.
std::mutex& TableLock() {
  static std::mutex* lock = new std::mutex;
  return *lock;
}

std::unordered_set<Object*>& Live() {
  static auto* live = new std::unordered_set<Object*>;
  return *live;
}

// Open files of this process by (device, inode).
std::map<std::pair<dev_t, ino_t>, std::set<File*>>& OpenFiles() {
  static auto* files = new std::map<std::pair<dev_t, ino_t>, std::set<File*>>;
  return *files;
}

bool Conflicts(const File& open, DWORD access, DWORD share) {
  if ((access & GENERIC_READ) && !(open.share & FILE_SHARE_READ)) return true;
  if ((access & GENERIC_WRITE) && !(open.share & FILE_SHARE_WRITE)) return true;
  if ((open.access & GENERIC_READ) && !(share & FILE_SHARE_READ)) return true;
  if ((open.access & GENERIC_WRITE) && !(share & FILE_SHARE_WRITE)) return true;
  return false;
}

// Fails with ERROR_SHARING_VIOLATION when a handle of this process holds the
// file in a way the new open's access or sharing does not allow.
bool ShareCheck(dev_t dev, ino_t ino, DWORD access, DWORD share) {
  std::lock_guard<std::mutex> guard(TableLock());
  auto it = OpenFiles().find({dev, ino});
  if (it == OpenFiles().end()) return true;
  for (const File* open : it->second) {
    if (Conflicts(*open, access, share)) {
      SetLastError(ERROR_SHARING_VIOLATION);
      return false;
    }
  }
  return true;
}

// A file open without FILE_SHARE_DELETE cannot be deleted.
bool DeleteAllowed(dev_t dev, ino_t ino) {
  std::lock_guard<std::mutex> guard(TableLock());
  auto it = OpenFiles().find({dev, ino});
  if (it == OpenFiles().end()) return true;
  for (const File* open : it->second) {
    if (!(open->share & FILE_SHARE_DELETE)) return false;
  }
  return true;
}

File* FileOf(HANDLE handle) { return static_cast<File*>(Lookup(handle, Object::Kind::File)); }

bool ParentExists(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return true;
  std::string parent = slash == 0 ? std::string("/") : path.substr(0, slash);
  struct stat st;
  return stat(parent.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool WriteAll(int fd, const char* data, size_t size, size_t* done) {
  *done = 0;
  while (*done < size) {
    ssize_t n = write(fd, data + *done, size - *done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) {
      errno = ENOSPC;
      return false;
    }
    *done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

HANDLE Register(Object* object) {
  std::lock_guard<std::mutex> guard(TableLock());
  Live().insert(object);
  return static_cast<HANDLE>(object);
}

Object* Lookup(HANDLE handle, Object::Kind kind) {
  std::lock_guard<std::mutex> guard(TableLock());
  Object* object = static_cast<Object*>(handle);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE || !Live().count(object) || object->kind != kind) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return object;
}

bool Unregister(HANDLE handle, Object::Kind kind) {
  Object* object = static_cast<Object*>(handle);
  {
    std::lock_guard<std::mutex> guard(TableLock());
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE || !Live().count(object) || object->kind != kind) {
      SetLastError(ERROR_INVALID_HANDLE);
      return false;
    }
    Live().erase(object);
    if (kind == Object::Kind::File) {
      File* file = static_cast<File*>(object);
      auto it = OpenFiles().find({file->dev, file->ino});
      if (it != OpenFiles().end()) {
        it->second.erase(file);
        if (it->second.empty()) OpenFiles().erase(it);
      }
    }
  }
  delete object;
  return true;
}

std::string MapPath(const char* path) {
  std::string mapped = path ? path : "";
  for (char& c : mapped) {
    if (c == '\\') c = '/';
  }
  return mapped;
}

DWORD ErrorFromErrno(int error, const std::string& path) {
  switch (error) {
    case ENOENT:
      return (path.empty() || ParentExists(path)) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
    case ENOTDIR:
    case ENAMETOOLONG:
      return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS:
      return ERROR_ACCESS_DENIED;
    case EEXIST:
      return ERROR_FILE_EXISTS;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return ERROR_DISK_FULL;
    case EBADF:
      return ERROR_INVALID_HANDLE;
    case EINVAL:
      return ERROR_INVALID_PARAMETER;
    case ENOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    default:
      return ERROR_ACCESS_DENIED;
  }
}

}  // namespace posix
}  // namespace platform

using platform::posix::ErrorFromErrno;
using platform::posix::File;
using platform::posix::FileOf;
using platform::posix::Injected;
using platform::posix::MapPath;

HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES, DWORD disposition, DWORD,
                   HANDLE) {
  std::string path = MapPath(name);
  if (Injected("CreateFileA", path, ERROR_ACCESS_DENIED)) return INVALID_HANDLE_VALUE;
  if (path.empty()) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  int mode = (access & GENERIC_WRITE) ? ((access & GENERIC_READ) ? O_RDWR : O_WRONLY) : O_RDONLY;
  mode |= O_CLOEXEC;

  // Opening without O_TRUNC first: the sharing check must come before a
  // truncation destroys the content of a file another handle holds.
  int fd = -1;
  bool existed = true;
  switch (disposition) {
    case CREATE_NEW:
      fd = open(path.c_str(), mode | O_CREAT | O_EXCL, 0666);
      existed = false;
      break;
    case CREATE_ALWAYS:
    case OPEN_ALWAYS:
      fd = open(path.c_str(), mode);
      if (fd < 0 && errno == ENOENT) {
        fd = open(path.c_str(), mode | O_CREAT | O_EXCL, 0666);
        existed = false;
      }
      break;
    case OPEN_EXISTING:
    case TRUNCATE_EXISTING:
      fd = open(path.c_str(), mode);
      break;
    default:
      SetLastError(ERROR_INVALID_PARAMETER);
      return INVALID_HANDLE_VALUE;
  }
  if (fd < 0) {
    SetLastError(ErrorFromErrno(errno, path));
    return INVALID_HANDLE_VALUE;
  }
  struct stat st;
  if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    close(fd);
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  if (!platform::posix::ShareCheck(st.st_dev, st.st_ino, access, share)) {
    close(fd);
    return INVALID_HANDLE_VALUE;
  }
  if (existed && (disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING) && ftruncate(fd, 0) != 0) {
    SetLastError(ErrorFromErrno(errno, path));
    close(fd);
    return INVALID_HANDLE_VALUE;
  }

  File* file = new File;
  file->fd = fd;
  file->dev = st.st_dev;
  file->ino = st.st_ino;
  file->access = access;
  file->share = share;
  file->path = path;
  HANDLE handle = platform::posix::Register(file);
  {
    std::lock_guard<std::mutex> guard(platform::posix::TableLock());
    platform::posix::OpenFiles()[{st.st_dev, st.st_ino}].insert(file);
  }
  bool reportsExisting = existed && (disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS);
  SetLastError(reportsExisting ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return handle;
}

BOOL ReadFile(HANDLE handle, LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED) {
  if (read) *read = 0;
  File* file = FileOf(handle);
  if (!file) return FALSE;
  if (Injected("ReadFile", file->path, ERROR_READ_FAULT)) return FALSE;
  if (!(file->access & GENERIC_READ)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  DWORD done = 0;
  char* out = static_cast<char*>(buffer);
  while (done < toRead) {
    ssize_t n = ::read(file->fd, out + done, toRead - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      SetLastError(ErrorFromErrno(errno));
      if (read) *read = done;
      return FALSE;
    }
    if (n == 0) break;
    done += static_cast<DWORD>(n);
  }
  if (read) *read = done;
  return TRUE;
}

BOOL WriteFile(HANDLE handle, LPCVOID buffer, DWORD toWrite, LPDWORD written, LPOVERLAPPED) {
  if (written) *written = 0;
  File* file = FileOf(handle);
  if (!file) return FALSE;
  if (Injected("WriteFile", file->path, ERROR_WRITE_FAULT)) return FALSE;
  if (!(file->access & GENERIC_WRITE)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  size_t done = 0;
  bool ok = platform::posix::WriteAll(file->fd, static_cast<const char*>(buffer), toWrite, &done);
  if (written) *written = static_cast<DWORD>(done);
  if (!ok) {
    SetLastError(ErrorFromErrno(errno));
    return FALSE;
  }
  return TRUE;
}

DWORD SetFilePointer(HANDLE handle, LONG distance, PLONG distanceHigh, DWORD method) {
  File* file = FileOf(handle);
  if (!file) return INVALID_SET_FILE_POINTER;
  if (Injected("SetFilePointer", file->path, ERROR_INVALID_PARAMETER)) return INVALID_SET_FILE_POINTER;
  // Without a high part the distance is a signed 32-bit value; with one, the
  // two form a signed 64-bit distance.
  int64_t move = distanceHigh ? static_cast<int64_t>((static_cast<uint64_t>(static_cast<uint32_t>(*distanceHigh)) << 32) |
                                                     static_cast<uint32_t>(distance))
                              : static_cast<int64_t>(distance);
  int whence = method == FILE_BEGIN ? SEEK_SET : method == FILE_CURRENT ? SEEK_CUR : method == FILE_END ? SEEK_END : -1;
  if (whence < 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_SET_FILE_POINTER;
  }
  off_t base = 0;
  if (whence == SEEK_CUR) base = lseek(file->fd, 0, SEEK_CUR);
  if (whence == SEEK_END) {
    struct stat st;
    base = fstat(file->fd, &st) == 0 ? st.st_size : -1;
  }
  if (base < 0 || base + move < 0) {
    SetLastError(base < 0 ? ErrorFromErrno(errno) : ERROR_NEGATIVE_SEEK);
    return INVALID_SET_FILE_POINTER;
  }
  off_t position = lseek(file->fd, base + move, SEEK_SET);
  if (position < 0) {
    SetLastError(ErrorFromErrno(errno));
    return INVALID_SET_FILE_POINTER;
  }
  uint64_t at = static_cast<uint64_t>(position);
  if (distanceHigh) *distanceHigh = static_cast<LONG>(static_cast<uint32_t>(at >> 32));
  SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(at & 0xFFFFFFFFu);
}

BOOL SetEndOfFile(HANDLE handle) {
  File* file = FileOf(handle);
  if (!file) return FALSE;
  if (Injected("SetEndOfFile", file->path, ERROR_DISK_FULL)) return FALSE;
  if (!(file->access & GENERIC_WRITE)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  off_t position = lseek(file->fd, 0, SEEK_CUR);
  struct stat st;
  if (position < 0 || fstat(file->fd, &st) != 0) {
    SetLastError(ErrorFromErrno(errno));
    return FALSE;
  }
  if (position > st.st_size) {
    // Allocate for real; where the file system cannot, a plain length change
    // still gives the file its length.
    // (fallocate, not posix_fallocate: the latter falls back to writing
    // zeros, which for a reserve of many gigabytes takes minutes.)
    int rc = fallocate(file->fd, 0, st.st_size, position - st.st_size) == 0 ? 0 : errno;
    if (rc == 0) return TRUE;
    if (rc != EOPNOTSUPP && rc != ENOSYS) {
      // Do not leave a half-allocated tail behind a failed growth.
      if (ftruncate(file->fd, st.st_size) != 0) { /* the error below is what counts */
      }
      SetLastError(ErrorFromErrno(rc));
      return FALSE;
    }
  }
  if (ftruncate(file->fd, position) != 0) {
    SetLastError(ErrorFromErrno(errno));
    return FALSE;
  }
  return TRUE;
}

DWORD GetFileSize(HANDLE handle, LPDWORD sizeHigh) {
  File* file = FileOf(handle);
  if (!file) return INVALID_FILE_SIZE;
  if (Injected("GetFileSize", file->path, ERROR_ACCESS_DENIED)) return INVALID_FILE_SIZE;
  struct stat st;
  if (fstat(file->fd, &st) != 0) {
    SetLastError(ErrorFromErrno(errno));
    return INVALID_FILE_SIZE;
  }
  uint64_t size = static_cast<uint64_t>(st.st_size);
  if (sizeHigh) *sizeHigh = static_cast<DWORD>(size >> 32);
  SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(size & 0xFFFFFFFFu);
}

BOOL CloseHandle(HANDLE handle) {
  using platform::posix::Object;
  Object* object = nullptr;
  for (Object::Kind kind : {Object::Kind::File, Object::Kind::Mutex}) {
    object = platform::posix::Lookup(handle, kind);
    if (object) break;
  }
  if (!object) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (Injected("CloseHandle", object->kind == Object::Kind::File ? static_cast<File*>(object)->path : std::string(),
               ERROR_INVALID_HANDLE))
    return FALSE;
  return platform::posix::Unregister(handle, object->kind) ? TRUE : FALSE;
}

BOOL DeleteFileA(LPCSTR name) {
  std::string path = MapPath(name);
  if (Injected("DeleteFileA", path, ERROR_ACCESS_DENIED)) return FALSE;
  {
    // With no file of this process open, no sharing rule can refuse the
    // deletion, and unlink refuses a directory by itself (EISDIR, mapped to
    // ERROR_ACCESS_DENIED as below): one call does it. A purge deletes tens
    // of thousands of files this way.
    std::lock_guard<std::mutex> guard(platform::posix::TableLock());
    if (platform::posix::OpenFiles().empty()) {
      if (unlink(path.c_str()) == 0) return TRUE;
      SetLastError(errno == EISDIR ? ERROR_ACCESS_DENIED : ErrorFromErrno(errno, path));
      return FALSE;
    }
  }
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) {
    SetLastError(ErrorFromErrno(errno, path));
    return FALSE;
  }
  if (S_ISDIR(st.st_mode)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if (!platform::posix::DeleteAllowed(st.st_dev, st.st_ino)) {
    SetLastError(ERROR_SHARING_VIOLATION);
    return FALSE;
  }
  if (unlink(path.c_str()) != 0) {
    SetLastError(ErrorFromErrno(errno, path));
    return FALSE;
  }
  return TRUE;
}

BOOL CopyFileA(LPCSTR existing, LPCSTR target, BOOL failIfExists) {
  std::string from = MapPath(existing);
  std::string to = MapPath(target);
  if (Injected("CopyFileA", from, ERROR_ACCESS_DENIED) || Injected("CopyFileA", to, ERROR_ACCESS_DENIED)) return FALSE;
  int in = open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) {
    SetLastError(ErrorFromErrno(errno, from));
    return FALSE;
  }
  struct stat st;
  if (fstat(in, &st) != 0 || S_ISDIR(st.st_mode)) {
    close(in);
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  struct stat dst;
  if (stat(to.c_str(), &dst) == 0) {
    if (failIfExists) {
      close(in);
      SetLastError(ERROR_FILE_EXISTS);
      return FALSE;
    }
    if (!platform::posix::ShareCheck(dst.st_dev, dst.st_ino, GENERIC_WRITE, 0)) {
      close(in);
      return FALSE;
    }
  }
  int out = open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | (failIfExists ? O_EXCL : 0), 0666);
  if (out < 0) {
    SetLastError(ErrorFromErrno(errno, to));
    close(in);
    return FALSE;
  }
  std::vector<char> buffer(1 << 16);
  bool ok = true;
  int error = 0;
  for (;;) {
    ssize_t n = read(in, buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n < 0) ok = false, error = errno;
      break;
    }
    size_t done = 0;
    if (!platform::posix::WriteAll(out, buffer.data(), static_cast<size_t>(n), &done)) {
      ok = false;
      error = errno;
      break;
    }
  }
  // Windows keeps the last-write time of the copied file.
  struct timespec times[2] = {st.st_atim, st.st_mtim};
  if (ok) futimens(out, times);
  close(in);
  if (close(out) != 0 && ok) ok = false, error = errno;
  if (!ok) {
    unlink(to.c_str());
    SetLastError(ErrorFromErrno(error, to));
    return FALSE;
  }
  return TRUE;
}

DWORD GetCurrentDirectoryA(DWORD size, LPSTR buffer) {
  std::string cwd;
  std::vector<char> scratch(4096);
  while (!getcwd(scratch.data(), scratch.size())) {
    if (errno != ERANGE) {
      SetLastError(ErrorFromErrno(errno));
      return 0;
    }
    scratch.resize(scratch.size() * 2);
  }
  cwd = scratch.data();
  // As on Windows: with too small a buffer, the size needed including the
  // terminating zero; otherwise the length copied.
  if (!buffer || size <= cwd.size()) return static_cast<DWORD>(cwd.size() + 1);
  std::memcpy(buffer, cwd.c_str(), cwd.size() + 1);
  return static_cast<DWORD>(cwd.size());
}
