#include "trace_file.h"

#include <shlobj.h>
#include <string.h>

#include "file_name_rules.h"
#include "text_format.h"

namespace
{

const char DEFAULT_FILE_NAME[] = "Kestrelnode9.log";
const size_t PATH_ROOM = 256;        // the stored path: 255 characters at most
const size_t EXPANSION_LIMIT = 254;  // what the expansion may fill
const size_t DIRECTORY_PREFIX = 223; // characters kept of a directory name

const DWORD REFUSED_TARGET = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_SYSTEM |
                             FILE_ATTRIBUTE_DEVICE | FILE_ATTRIBUTE_READONLY;

bool EndsInSeparator(const char *text, size_t length)
{
    return length > 0 && (text[length - 1] == '\\' || text[length - 1] == '/');
}

// Puts "folder[\]name" into path, or returns false when it is longer than
// 255 characters. *filePart receives where name begins.
bool JoinPath(char (&path)[PATH_ROOM], const char *folder, const char *name, const char **filePart)
{
    size_t folderLength = strlen(folder);
    size_t nameLength = strlen(name);
    bool separator = folderLength > 0 && !EndsInSeparator(folder, folderLength);
    size_t total = folderLength + (separator ? 1 : 0) + nameLength;
    if (total > PATH_ROOM - 1)
        return false;
    memcpy(path, folder, folderLength);
    size_t used = folderLength;
    if (separator)
        path[used++] = '\\';
    if (filePart)
        *filePart = path + used;
    memcpy(path + used, name, nameLength);
    path[total] = '\0';
    return true;
}

// The documents folder, joined with name.
bool JoinDocumentsPath(char (&path)[PATH_ROOM], const char *name, const char **filePart)
{
    char folder[MAX_PATH + 1];
    memset(folder, 0, sizeof(folder));
    if (FAILED(SHGetFolderPathA(NULL, CSIDL_PERSONAL, NULL, SHGFP_TYPE_CURRENT, folder)))
        return false;
    folder[MAX_PATH] = '\0';
    return JoinPath(path, folder, name, filePart);
}

// Expands %NAME% references. Returns false when the expansion does not fit
// the room; a name whose expansion yields nothing is kept as written.
bool ExpandName(const char *name, char (&expanded)[PATH_ROOM], const char **result)
{
    *result = name;
    if (!strchr(name, '%'))
        return true;
    DWORD needed = ExpandEnvironmentStringsA(name, expanded, EXPANSION_LIMIT);
    if (needed > EXPANSION_LIMIT)
        return false;
    expanded[PATH_ROOM - 1] = '\0';
    if (needed != 0 && expanded[0])
        *result = expanded;
    return true;
}

int ResolvePath(const char *fileName, char (&path)[PATH_ROOM])
{
    const char *filePart = NULL;
    if (!fileName || !fileName[0]) {
        return JoinDocumentsPath(path, DEFAULT_FILE_NAME, NULL);
    }

    char expanded[PATH_ROOM];
    memset(expanded, 0, sizeof(expanded));
    const char *name = NULL;
    if (!ExpandName(fileName, expanded, &name) || NamesDevice(name))
        return 0;

    DWORD attributes = GetFileAttributesA(name);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        // A directory gets the default file; a relative name stays relative.
        char directory[DIRECTORY_PREFIX + 1];
        CopyText(directory, sizeof(directory), name);
        return JoinPath(path, directory, DEFAULT_FILE_NAME, NULL);
    }

    if (strpbrk(name, ":/\\")) {
        char *part = NULL;
        DWORD length = GetFullPathNameA(name, PATH_ROOM, path, &part);
        if (length == 0 || length > PATH_ROOM - 1)
            return 0;
        path[PATH_ROOM - 1] = '\0';
        filePart = part;
    } else if (!JoinDocumentsPath(path, name, &filePart)) {
        return 0;
    }
    return !(filePart && HasRefusedExtension(filePart));
}

} // namespace

int SetTraceFileName(TRACE_RECORD *record, const char *fileName)
{
    char path[PATH_ROOM];
    memset(path, 0, sizeof(path));

    int result = ResolvePath(fileName, path) && !NamesDevice(path);
    if (result) {
        DWORD attributes = GetFileAttributesA(path);
        if (attributes != INVALID_FILE_ATTRIBUTES) {
            if (attributes & REFUSED_TARGET)
                result = 0;
            else
                SetFileAttributesA(path,
                                   (attributes & ~FILE_ATTRIBUTE_HIDDEN) | FILE_ATTRIBUTE_ARCHIVE);
        }
    }

    // The path changes in one step: threads sharing the record in process
    // mode never find it without a file while a name is being resolved.
    EnterCriticalSection(&record->lock);
    EnterCriticalSection(&record->queueLock);
    if (result)
        CopyText(record->filePath, sizeof(record->filePath), path);
    else
        record->filePath[0] = '\0';
    LeaveCriticalSection(&record->queueLock);
    LeaveCriticalSection(&record->lock);
    return result;
}

extern "C" int WINAPI TraceSetFileName(const char *fileName)
{
    TRACE_RECORD *record = AcquireTraceRecord();
    if (!record)
        return 0;
    int result = SetTraceFileName(record, fileName);
    ReleaseTraceRecord(record);
    return result;
}

extern "C" int WINAPI TraceGetFileName(char *buffer, int size)
{
    if (!buffer || size < 1)
        return 0;
    TRACE_RECORD *record = AcquireTraceRecord();
    if (!record)
        return 0;
    EnterCriticalSection(&record->lock);
    int length = (int)CopyText(buffer, (size_t)size, record->filePath);
    LeaveCriticalSection(&record->lock);
    ReleaseTraceRecord(record);
    return length;
}
