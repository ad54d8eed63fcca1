// Opening paths as root only through folders, links and files that root alone may change.
//
// Run by root, every path is walked from "/" one entry at a time and taken
// only when nothing on the way is another user's to change; a refused path
// is told once a run on standard error, naming it and why. Run by any other
// user, each function is the plain system call it stands for.
#pragma once

#include <dirent.h>
#include <stdint.h>
#include <sys/stat.h>

// What a path must lead to.
enum MgTrust : uint8_t {
    MG_TRUST_FOLDER,   // A folder root owns and no one else may write to, or a sticky one.
    MG_TRUST_FILE,     // A regular file root owns and no other user may write to.
    MG_TRUST_RECORDS,  // The login records: a file as above, that their own group may write.
    MG_TRUST_DEVICE,   // A terminal's node, whoever owns it, since login hands it to the caller.
    MG_TRUST_LOCK,     // A regular file never reached through a link; its writer is judged by its holder.
};

// Starts a run: whether paths are walked, and nothing told yet.
void MgTrustBegin(void);
// Ends a run: lets go of the folders it has walked to.
void MgTrustEnd(void);
// Whether paths are walked: the library runs as root.
bool MgTrusting(void);
// Whether an error is a path refused because another user may change it.
bool MgRefused(uint32_t error);
// The path refused last in this run and why, as told; "" when none was.
const char* MgLastRefusal(void);

// Opens the path as open(2) would, never waiting and never taking a
// terminal as the process's own; -1 with `error` set.
int MgOpenTrusted(const char* path, MgTrust kind, int flags, uint32_t* error);
// What the path leads to, as stat(2) would tell.
uint32_t MgStatTrusted(const char* path, MgTrust kind, struct stat* info);
// Where the path leads, without links, into `resolved` of MG_PATH_SIZE bytes.
uint32_t MgRealPathTrusted(const char* path, MgTrust kind, char* resolved);
// The folder that holds the path's last entry, and that entry's name (of
// MG_PATH_SIZE bytes), for the *at calls; the entry itself is not looked
// at. Not run by root, the folder is AT_FDCWD and the name the whole path.
// The folder is given back with MgCloseFolder.
uint32_t MgOpenFolderOf(const char* path, int* folder, char* name);
void MgCloseFolder(int folder);
// A folder opened for reading its entries; null with `error` set.
DIR* MgOpenFolder(const char* path, uint32_t* error);
