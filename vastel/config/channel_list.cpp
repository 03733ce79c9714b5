#include "config/channel_list.h"

#include <cstdio>
#include <cstring>

#include "config/simple_ini.h"
#include "platform/win32.h"

namespace {

const int32_t kCapacity = 32;

// Copies at most size - 1 characters and terminates, as every copy into a
// fixed array does here.
void CopyCut(char* to, size_t size, const char* from) {
  std::strncpy(to, from, size - 1);
  to[size - 1] = '\0';
}

}  // namespace

// ---- CSaverZaglushka: identity -----------------------------------------------

CSaverZaglushka::CSaverZaglushka(const char* directory, int32_t index) : Index(index) {
  std::memset(ChannelDir, 0, sizeof ChannelDir);
  std::memset(ExtDir, 0, sizeof ExtDir);
  std::memset(FilePrefix, 0, sizeof FilePrefix);
  std::memset(DisplayName, 0, sizeof DisplayName);
  CopyCut(ChannelDir, sizeof ChannelDir, directory ? directory : "");

  // Only the name file gets a separator when the configured directory lacks
  // one; every database name is glued on as it is.
  std::string namePath = ChannelDir;
  if (namePath.empty() || namePath.back() != '\\') namePath += '\\';
  namePath += "Name.Chd";
  DWORD read = 0;
  HANDLE file = CreateFileA(namePath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    // The bytes as they are: a line end stays part of the name, a zero byte
    // ends it early.
    if (!ReadFile(file, DisplayName, sizeof DisplayName - 1, &read, nullptr)) read = 0;
    if (read > 0) DisplayName[read] = '\0';
    CloseHandle(file);
  }
  if (read == 0) {
    std::snprintf(DisplayName, sizeof DisplayName, "Канал №%ld", static_cast<long>(Index) + 1);
  }

  std::string ext = std::string(ChannelDir) + "Ext\\";
  CopyCut(ExtDir, sizeof ExtDir, ext.c_str());
  std::snprintf(FilePrefix, sizeof FilePrefix, "Ch%d", static_cast<int>(static_cast<int16_t>(Index & 0xFFFF)));
}

void CSaverZaglushka::GetDisplayName(char* buffer, int32_t size) const {
  if (!buffer || size <= 0) return;
  std::strncpy(buffer, DisplayName, static_cast<size_t>(size) - 1);
  buffer[size - 1] = '\0';
}

// ---- GlobalBufferInformation -------------------------------------------------

GlobalBufferInformation::GlobalBufferInformation(Ini* ini)
    : ChannelArray(new CSaverZaglushka*[kCapacity]), Capacity(kCapacity), Count(0), IniFile(ini) {
  for (int32_t i = 0; i < Capacity; ++i) ChannelArray[i] = nullptr;
  // The unbroken run of keys from index 0: the first missing, empty or
  // unquoted value ends the list, and the number "Channels" plays no part.
  for (int32_t i = 0; i < Capacity && IniFile; ++i) {
    char key[32];
    std::snprintf(key, sizeof key, "ChannelPath[%ld]", static_cast<long>(i));
    char directory[260];
    if (IniFile->GetString(key, directory, sizeof directory) <= 0) break;
    ChannelArray[i] = new CSaverZaglushka(directory, i);
    ++Count;
  }
}

GlobalBufferInformation::~GlobalBufferInformation() {
  for (int32_t i = 0; i < Capacity; ++i) delete ChannelArray[i];
  delete[] ChannelArray;
}
