#pragma once
// Temporary files the program leaves only when it is killed mid-write (a
// save's hidden replacement, a copy not yet renamed into place). Their names
// carry the id of the process that made them, so the next writer into the
// folder removes those of processes that no longer run, and never a file
// another running instance is still writing.

#include <cstddef>
#include <string>

namespace Platform {

// The process id a temporary name carries, or 0 when the name is not one of
// the kind the function knows.
using TemporaryOwner = long (*)(const std::string& name);

// Whether a process of that id runs on this machine (another user's counts).
bool ProcessAlive(long pid);

// The decimal process id in name[at, at + length), or 0 when those are not
// all digits or name ends before.
long PidInName(const std::string& name, std::size_t at, std::size_t length);

// Removes from folder each entry (a file, or a folder with its content; a
// link itself, never what it points to) whose name ownerOf gives a process
// id other than this process's and of no running process. Best effort:
// what cannot be removed stays.
void RemoveStaleTemporaries(const std::string& folder, TemporaryOwner ownerOf);

}  // namespace Platform
