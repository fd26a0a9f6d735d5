#include "log_reader.h"

#include <windows.h>

#include <shlobj.h>

#include <cstdio>

std::string ReadFileBytes(const std::string &path)
{
    std::string bytes;
    FILE *file = std::fopen(path.c_str(), "rb");
    if (!file)
        return bytes;
    char chunk[65536];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof(chunk), file)) > 0)
        bytes.append(chunk, n);
    std::fclose(file);
    return bytes;
}

std::vector<std::string> ReadLogLines(const std::string &path)
{
    std::vector<std::string> lines;
    std::string bytes = ReadFileBytes(path);
    size_t start = 0;
    while (start < bytes.size()) {
        size_t end = bytes.find("\r\n", start);
        if (end == std::string::npos) {
            lines.push_back(bytes.substr(start));
            break;
        }
        lines.push_back(bytes.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

namespace {

void RemoveTree(const std::string &path)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((path + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::string name = found.cFileName;
            if (name == "." || name == "..")
                continue;
            std::string child = path + "\\" + name;
            SetFileAttributesA(child.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(child);
            else
                DeleteFileA(child.c_str());
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    RemoveDirectoryA(path.c_str());
}

}  // namespace

std::string MakeScratchDirectory(const std::string &name)
{
    char current[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, current);
    std::string root = std::string(current) + "\\scratch";
    CreateDirectoryA(root.c_str(), nullptr);
    std::string path = root + "\\" + name;
    RemoveTree(path);
    CreateDirectoryA(path.c_str(), nullptr);
    return path;
}

std::string LineFromLevel(const std::string &line)
{
    // NAME KEY ELAPSED LEVEL: the level follows the third space-separated field.
    size_t first = line.find(' ');
    if (first == std::string::npos)
        return "";
    size_t second = line.find(' ', first + 1);
    if (second == std::string::npos)
        return "";
    size_t third = line.find(' ', second + 1);
    if (third == std::string::npos)
        return "";
    return line.substr(third + 1);
}

std::string DocumentsFolder()
{
    char folder[MAX_PATH] = {0};
    SHGetFolderPathA(nullptr, CSIDL_PERSONAL, nullptr, SHGFP_TYPE_CURRENT, folder);
    return folder;
}

std::string HostProgramName()
{
    char path[MAX_PATH + 1] = {0};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string base = path;
    size_t slash = base.find_last_of('\\');
    if (slash != std::string::npos)
        base = base.substr(slash + 1);
    size_t dot = base.find_last_of('.');
    if (dot != std::string::npos)
        base = base.substr(0, dot);
    if (base.size() > 63)
        base.resize(63);
    for (char &c : base) {
        if (c >= 'a' && c <= 'z')
            c = (char)(c - 'a' + 'A');
    }
    return base;
}
