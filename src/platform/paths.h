#pragma once
// Files and folders of the platform: the user's folders, temporary names, folder-tree removal and
// a few plain file helpers. All paths are UTF-8 and use "/" as separator.
#include <cstdint>
#include <string>

namespace qm {

// The user's home folder, ending in "/".
std::string HomeFolder();
// $TMPDIR when it names a writable folder, else "/tmp"; ends in "/".
std::string TempFolder();
// XDG documents folder ($XDG_DOCUMENTS_DIR, else ~/Documents when it exists, else home), ending in "/".
std::string DocumentsFolder();
// Folder of the running executable, ending in "/".
std::string ProgramFolder();
// Per-user configuration folder of the program ($XDG_CONFIG_HOME/quillmark/ or ~/.config/quillmark/),
// ending in "/". Not created here.
std::string ConfigFolder();

// Creates an empty placeholder file "<folder>qmrk_XXXXXX.tmp" with a unique name and returns its
// full path, or "" on failure. `folder` must end in "/"; empty means TempFolder().
std::string CreateUniqueTempFile(const std::string &prefix = "qmrk_", const std::string &folder = std::string());

// Deletes a folder and everything in it. An empty path deletes nothing. Entries are made writable
// before removal; failures are ignored. Symbolic links are removed, never followed.
void DeleteFolderTree(const std::string &path);

bool FileExists(const std::string &path);     // a regular file (or link to one)
bool FolderExists(const std::string &path);
bool IsWritableFolder(const std::string &path);
// Creates one folder; true when it was created (false when it exists already or cannot be made).
bool CreateFolder(const std::string &path);
// Creates a folder and its missing parents; true when the folder exists afterwards.
bool CreateFolders(const std::string &path);
// Reads a whole file; false when it cannot be read.
bool ReadFile(const std::string &path, std::string &contents);
// Writes a whole file (created or truncated); false on any failure.
bool WriteFile(const std::string &path, const std::string &contents);
// Copies a file, replacing the destination through a temporary name next to it, so that a failed
// copy never leaves a half-written destination. false on failure.
bool CopyFileReplacing(const std::string &from, const std::string &to);

// How PlaceFile ended.
enum class PlaceResult {
    kPlaced,     // the file is at its destination
    kNameTaken,  // without `replace`: something already has the name; it was left as it was
    kFailed,     // nothing changed at the destination; the errno is given
};
// Puts the finished file `from` at `to` in one step, so that `to` never shows a half-written file.
// Without `replace` the name is claimed only when nothing has it yet (no check-then-write race
// with another program writing the same name); with `replace` an existing file is replaced
// atomically. Within one file system `from` is moved; otherwise it is first copied (and flushed)
// under a hidden temporary name next to `to`, which is removed again when placing fails.
// On kFailed, `*error` receives the errno of the step that failed.
PlaceResult PlaceFile(const std::string &from, const std::string &to, bool replace, int *error = nullptr);
// The same without the renameat2(RENAME_NOREPLACE) call, as on file systems that refuse it: the
// name is claimed with link() and the source unlinked. Exposed to test that way of claiming.
PlaceResult PlaceFileByLink(const std::string &from, const std::string &to, bool replace, int *error = nullptr);
// 0 when a file of `bytes` can be made in `folder` now, else the errno that prevents it (ENOSPC,
// EACCES, EROFS, ...). The probe file is removed again.
int FolderWriteError(const std::string &folder, int64_t bytes);
// The system's text for an errno value ("No space left on device").
std::string SystemErrorText(int error);

// Size of a regular file, -1 when it does not exist.
int64_t FileSize(const std::string &path);

// Name after the last "/" (the whole path when there is none).
std::string FileNamePart(const std::string &path);
// The part after the last dot, in lower case ASCII; "" when there is no dot.
std::string LowerExtension(const std::string &fileName);
// Everything up to and including the last "/" ("" when there is none).
std::string FolderPart(const std::string &path);
// Appends "/" when the text does not end with one (an empty text stays empty).
std::string WithTrailingSlash(const std::string &folder);

} // namespace qm
