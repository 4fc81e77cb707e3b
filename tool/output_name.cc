// Output names, the creation of output files, and the identities of the
// files this run wrote. Identities live in a fixed open-addressed table:
// 64 disks of 336 slots fill at most two thirds of it.
#include "tool/output_name.h"

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "tool/problems.h"

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <sys/stat.h>
#endif

void FormatOutputName(char* name, int diskIndex, int slot) {
  snprintf(name, kOutputNameSize, "%c%03d", 65 + diskIndex, slot);
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

const int kMaxOutputFiles = 64 * 336;
const int kWrittenTableSize = 32768;  // a power of two above kMaxOutputFiles * 1.5
WrittenFile g_writtenFiles[kWrittenTableSize];
int g_writtenCount = 0;

// A file created where no file stood is new: no earlier file of this run can
// be behind its name then. Until some name is found taken, the files made
// are only listed by name, and their identities are taken when first needed.
bool g_recordingIdentities = false;
char g_newFileNames[kMaxOutputFiles][8];
int g_newFileCount = 0;

// One output file is open at a time; its stream writes through this buffer,
// which spares the C library an allocation and a status query per file.
char g_outputBuffer[64 * 1024];

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

// Names are four characters; the cells hold up to seven.
void CopyName(char* to, size_t size, const char* name) {
  size_t length = strnlen(name, size - 1);
  memcpy(to, name, length);
  to[length] = '\0';
}

void Remember(const FileIdentity& id, const char* name) {
  if (g_writtenCount >= kWrittenTableSize / 2) return;
  WrittenFile* cell = Lookup(id);
  if (cell->name[0] == '\0') ++g_writtenCount;
  cell->id = id;
  CopyName(cell->name, sizeof(cell->name), name);
}

void StartRecordingIdentities() {
  if (g_recordingIdentities) return;
  g_recordingIdentities = true;
  FileIdentity id;
  for (int i = 0; i < g_newFileCount; ++i)
    if (IdentityOfName(g_newFileNames[i], &id)) Remember(id, g_newFileNames[i]);
  g_newFileCount = 0;
}

// False when the system would read the name as more than a plain file name:
// on Windows the 28th disk's backslash is a path separator.
bool IsUsableOutputName(const char* name) {
#ifdef _WIN32
  return strchr(name, '\\') == nullptr && strchr(name, '/') == nullptr;
#else
  return strchr(name, '/') == nullptr;
#endif
}

// Whether the name already leads to a file that this run wrote and, if so,
// the name it was written under.
bool FindFileWrittenEarlier(const char* name, char* earlierName) {
  StartRecordingIdentities();
  FileIdentity id;
  if (g_writtenCount == 0 || !IdentityOfName(name, &id)) return false;
  const WrittenFile* cell = Lookup(id);
  if (cell->name[0] == '\0') return false;
  snprintf(earlierName, kOutputNameSize, "%s", cell->name);
  return true;
}

void RememberWrittenFile(FILE* file, const char* name) {
  StartRecordingIdentities();
  FileIdentity id;
  if (IdentityOfFile(file, &id)) Remember(id, name);
}

// Creates `name` only where nothing stands under it; null otherwise.
FILE* CreateNewFile(const char* name) {
#ifdef _WIN32
  (void)name;
  return nullptr;  // older Windows C libraries ignore "x"; always check first there
#else
  return fopen(name, "wbx");
#endif
}

}  // namespace

FILE* CreateOutputFile(const char* name) {
  if (!IsUsableOutputName(name)) {
    ReportProblem(name, "name not usable on this system; not written");
    return nullptr;
  }
  FILE* out = CreateNewFile(name);
  if (out && !g_recordingIdentities) {
    if (g_newFileCount < kMaxOutputFiles)
      CopyName(g_newFileNames[g_newFileCount++], sizeof(g_newFileNames[0]), name);
  } else {
    if (!out) {
      char earlier[kOutputNameSize];
      if (FindFileWrittenEarlier(name, earlier)) {
        ReportProblem(name, "would replace %s written earlier in this run; not written", earlier);
        return nullptr;
      }
      out = fopen(name, "wb");
      if (!out) {
        ReportProblem(name, "cannot create file: %s", strerror(errno));
        return nullptr;
      }
    }
    RememberWrittenFile(out, name);
  }
  setvbuf(out, g_outputBuffer, _IOFBF, sizeof(g_outputBuffer));
  return out;
}

void ForgetWrittenFiles() {
  if (g_writtenCount > 0) memset(g_writtenFiles, 0, sizeof(g_writtenFiles));
  g_writtenCount = 0;
  g_newFileCount = 0;
  g_recordingIdentities = false;
}
