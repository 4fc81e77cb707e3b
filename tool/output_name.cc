// Output names, and the identities of the files this run wrote. Identities
// live in a fixed open-addressed table: 64 disks of 336 slots fill at most
// two thirds of it.
#include "tool/output_name.h"

#include <cstdint>
#include <cstring>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <sys/stat.h>
#endif

void FormatOutputName(char* name, int diskIndex, int slot) {
  snprintf(name, kOutputNameSize, "%c%03d", 65 + diskIndex, slot);
}

bool IsUsableOutputName(const char* name) {
#ifdef _WIN32
  return strchr(name, '\\') == nullptr && strchr(name, '/') == nullptr;
#else
  return strchr(name, '/') == nullptr;
#endif
}

namespace {

struct FileIdentity {
  uint64_t device;
  uint64_t node;
};

struct WrittenFile {
  FileIdentity id;
  char name[8];  // empty: a free cell
};

const int kWrittenTableSize = 32768;  // a power of two above 64 * 336 * 1.5
WrittenFile g_writtenFiles[kWrittenTableSize];
int g_writtenCount = 0;

#ifdef _WIN32
bool IdentityOfHandle(HANDLE h, FileIdentity* id) {
  BY_HANDLE_FILE_INFORMATION info;
  if (h == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(h, &info)) return false;
  id->device = info.dwVolumeSerialNumber;
  id->node = ((uint64_t)info.nFileIndexHigh << 32) | info.nFileIndexLow;
  return true;
}

bool IdentityOfName(const char* name, FileIdentity* id) {
  HANDLE h = CreateFileA(name, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  bool ok = IdentityOfHandle(h, id);
  CloseHandle(h);
  return ok;
}

bool IdentityOfFile(FILE* file, FileIdentity* id) {
  return IdentityOfHandle((HANDLE)_get_osfhandle(_fileno(file)), id);
}
#else
bool IdentityOfStat(const struct stat& st, FileIdentity* id) {
  id->device = (uint64_t)st.st_dev;
  id->node = (uint64_t)st.st_ino;
  return true;
}

bool IdentityOfName(const char* name, FileIdentity* id) {
  struct stat st;
  return stat(name, &st) == 0 && IdentityOfStat(st, id);
}

bool IdentityOfFile(FILE* file, FileIdentity* id) {
  struct stat st;
  return fstat(fileno(file), &st) == 0 && IdentityOfStat(st, id);
}
#endif

int Home(const FileIdentity& id) {
  uint64_t h = (id.node ^ (id.device * 0x9E3779B97F4A7C15ull)) * 0xFF51AFD7ED558CCDull;
  return (int)(h >> 49) & (kWrittenTableSize - 1);
}

WrittenFile* Lookup(const FileIdentity& id) {
  for (int i = Home(id);; i = (i + 1) & (kWrittenTableSize - 1)) {
    WrittenFile* cell = &g_writtenFiles[i];
    if (cell->name[0] == '\0') return cell;
    if (cell->id.device == id.device && cell->id.node == id.node) return cell;
  }
}

}  // namespace

bool FindFileWrittenEarlier(const char* name, char* earlierName) {
  FileIdentity id;
  if (g_writtenCount == 0 || !IdentityOfName(name, &id)) return false;
  const WrittenFile* cell = Lookup(id);
  if (cell->name[0] == '\0') return false;
  snprintf(earlierName, kOutputNameSize, "%s", cell->name);
  return true;
}

void RememberWrittenFile(FILE* file, const char* name) {
  FileIdentity id;
  if (g_writtenCount >= kWrittenTableSize / 2 || !IdentityOfFile(file, &id)) return;
  WrittenFile* cell = Lookup(id);
  if (cell->name[0] == '\0') ++g_writtenCount;
  cell->id = id;
  snprintf(cell->name, sizeof(cell->name), "%s", name);
}

void ForgetWrittenFiles() {
  if (g_writtenCount == 0) return;
  memset(g_writtenFiles, 0, sizeof(g_writtenFiles));
  g_writtenCount = 0;
}
