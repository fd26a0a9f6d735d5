// Reading back what the DLL wrote, and scratch files for tests.
#ifndef TRACELOG_TEST_LOG_READER_H
#define TRACELOG_TEST_LOG_READER_H

#include <string>
#include <vector>

// The whole file as bytes ("" when missing).
std::string ReadFileBytes(const std::string &path);

// The file split at CR LF; a trailing piece without CR LF becomes a last
// line of its own, so that a torn ending shows.
std::vector<std::string> ReadLogLines(const std::string &path);

// A fresh, empty scratch directory for one test (absolute, no trailing
// backslash), under the program's working directory.
std::string MakeScratchDirectory(const std::string &name);

// The text line without its head "NAME KEY ELAPSED " (everything from the
// level on), or "" when the line has no such head.
std::string LineFromLevel(const std::string &line);

// The user's documents folder as the DLL resolves it.
std::string DocumentsFolder();

// The host program's name as the DLL prints it: the executable's base name
// without extension, upper-cased, at most 63 characters.
std::string HostProgramName();

#endif
