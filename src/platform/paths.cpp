#include "platform/paths.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace qm {

std::string WithTrailingSlash(const std::string &folder) {
    if (folder.empty() || folder.back() == '/') return folder;
    return folder + "/";
}

std::string LowerExtension(const std::string &fileName) {
    size_t dot = fileName.rfind('.');
    if (dot == std::string::npos) return std::string();
    std::string ext = fileName.substr(dot + 1);
    for (char &c : ext)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return ext;
}

std::string FileNamePart(const std::string &path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string FolderPart(const std::string &path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string HomeFolder() {
    const char *home = std::getenv("HOME");
    if (home && *home) return WithTrailingSlash(home);
    if (const passwd *pw = getpwuid(getuid()); pw && pw->pw_dir && *pw->pw_dir) return WithTrailingSlash(pw->pw_dir);
    return "/";
}

bool FolderExists(const std::string &path) {
    struct stat st;
    return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool FileExists(const std::string &path) {
    struct stat st;
    return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool IsWritableFolder(const std::string &path) { return FolderExists(path) && access(path.c_str(), W_OK | X_OK) == 0; }

int64_t FileSize(const std::string &path) {
    struct stat st;
    if (path.empty() || stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
    return static_cast<int64_t>(st.st_size);
}

std::string TempFolder() {
    const char *tmp = std::getenv("TMPDIR");
    if (tmp && *tmp && IsWritableFolder(tmp)) return WithTrailingSlash(tmp);
    return "/tmp/";
}

std::string DocumentsFolder() {
    const char *docs = std::getenv("XDG_DOCUMENTS_DIR");
    if (docs && *docs && FolderExists(docs)) return WithTrailingSlash(docs);
    std::string home = HomeFolder();
    if (FolderExists(home + "Documents")) return home + "Documents/";
    return home;
}

std::string ProgramFolder() {
    std::vector<char> buf(4096);
    ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size() - 1);
    if (n <= 0) return "./";
    return FolderPart(std::string(buf.data(), static_cast<size_t>(n)));
}

std::string ConfigFolder() {
    const char *cfg = std::getenv("XDG_CONFIG_HOME");
    if (cfg && *cfg && cfg[0] == '/') return WithTrailingSlash(cfg) + "quillmark/";
    return HomeFolder() + ".config/quillmark/";
}

std::string CreateUniqueTempFile(const std::string &prefix, const std::string &folder) {
    std::string base = folder.empty() ? TempFolder() : WithTrailingSlash(folder);
    std::string pattern = base + prefix + "XXXXXX.tmp";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    int fd = mkstemps(buf.data(), 4);
    if (fd < 0) return std::string();
    close(fd);
    return std::string(buf.data());
}

namespace {
void RemoveTree(const std::string &path, int depth) {
    // Depth bound guards against pathological nesting; links are never followed (lstat).
    if (depth > 256) return;
    chmod(path.c_str(), S_IRWXU);  // a read-only folder could not be listed or emptied
    DIR *dir = opendir(path.c_str());
    if (dir) {
        std::vector<std::string> names;
        while (dirent *e = readdir(dir)) {
            if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
            names.emplace_back(e->d_name);
        }
        closedir(dir);
        for (const std::string &name : names) {
            std::string child = path + "/" + name;
            struct stat st;
            if (lstat(child.c_str(), &st) != 0) continue;
            if (S_ISDIR(st.st_mode)) {
                RemoveTree(child, depth + 1);
            } else {
                if (!S_ISLNK(st.st_mode)) chmod(child.c_str(), st.st_mode | S_IWUSR);
                unlink(child.c_str());
            }
        }
    }
    rmdir(path.c_str());
}
} // namespace

void DeleteFolderTree(const std::string &path) {
    if (path.empty()) return;
    std::string p = path;
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    if (p == "/") return;
    struct stat st;
    if (lstat(p.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return;
    RemoveTree(p, 0);
}

bool CreateFolder(const std::string &path) { return !path.empty() && mkdir(path.c_str(), 0777) == 0; }

bool CreateFolders(const std::string &path) {
    if (path.empty()) return false;
    if (FolderExists(path)) return true;
    std::string p = path;
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    size_t slash = p.rfind('/');
    if (slash != std::string::npos && slash > 0) CreateFolders(p.substr(0, slash));
    mkdir(p.c_str(), 0777);
    return FolderExists(p);
}

bool ReadFile(const std::string &path, std::string &contents) {
    contents.clear();
    FILE *f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) contents.append(buf, n);
    bool ok = !std::ferror(f);
    std::fclose(f);
    return ok;
}

bool WriteFile(const std::string &path, const std::string &contents) {
    FILE *f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fwrite(contents.data(), 1, contents.size(), f) == contents.size();
    ok = (std::fclose(f) == 0) && ok;
    return ok;
}

namespace {

// Copies everything readable from `in` to `out`; 0, or the errno of the failing read or write.
int CopyContents(int in, int out) {
    std::vector<char> buf(1 << 16);
    for (;;) {
        ssize_t n = read(in, buf.data(), buf.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return errno;
        if (n == 0) return 0;
        for (ssize_t off = 0; off < n;) {
            ssize_t w = write(out, buf.data() + off, static_cast<size_t>(n - off));
            if (w < 0 && errno == EINTR) continue;
            if (w < 0) return errno;
            if (w == 0) return EIO;
            off += w;
        }
    }
}

// Creates a new, empty hidden file in `folder` ("" is the current folder) for writing, with the
// permissions an ordinary new file gets. Returns its descriptor (and name in `path`), or -1 with
// the errno in `error`.
int CreateHiddenTemp(const std::string &folder, std::string &path, int &error) {
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        path = WithTrailingSlash(folder) + ".qmrk-" + std::to_string(getpid()) + "-" + std::to_string(counter++) +
               ".part";
        int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) return fd;
        if (errno != EEXIST) break;
    }
    error = errno;
    return -1;
}

// Flushes a file's data to the disk; 0 or the errno (file systems that cannot sync are fine).
int SyncFile(const std::string &path) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno;
    int rc = fsync(fd) == 0 ? 0 : errno;
    close(fd);
    return rc == EINVAL || rc == EROFS ? 0 : rc;
}

enum class Claim { kDone, kTaken, kCrossDevice, kFailed };

bool Unsupported(int error) { return error == EINVAL || error == ENOSYS || error == ENOTSUP || error == EOPNOTSUPP; }

// Moves `from` to `to` within one file system. Without `replace` the name is claimed atomically:
// renameat2(RENAME_NOREPLACE) where the file system takes it, else link(), which fails on a taken
// name, followed by unlink() of the source.
Claim MoveInto(const std::string &from, const std::string &to, bool replace, bool useRename2, int &error) {
    if (replace) {
        if (rename(from.c_str(), to.c_str()) == 0) return Claim::kDone;
        error = errno;
        return error == EXDEV ? Claim::kCrossDevice : Claim::kFailed;
    }
    if (useRename2) {
        if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return Claim::kDone;
        error = errno;
        if (error == EEXIST) return Claim::kTaken;
        if (error == EXDEV) return Claim::kCrossDevice;
        if (!Unsupported(error)) return Claim::kFailed;
    }
    if (link(from.c_str(), to.c_str()) == 0) {
        unlink(from.c_str());
        return Claim::kDone;
    }
    error = errno;
    if (error == EEXIST) return Claim::kTaken;
    if (error == EXDEV) return Claim::kCrossDevice;
    if (error != EPERM && !Unsupported(error)) return Claim::kFailed;
    // A file system with neither (no hard links): the best that is left is to look, then move.
    struct stat st;
    if (lstat(to.c_str(), &st) == 0) return Claim::kTaken;
    if (rename(from.c_str(), to.c_str()) == 0) return Claim::kDone;
    error = errno;
    return error == EXDEV ? Claim::kCrossDevice : Claim::kFailed;
}

PlaceResult Place(const std::string &from, const std::string &to, bool replace, bool useRename2, int *error) {
    int err = 0;
    auto failed = [&](int e) {
        if (error) *error = e;
        return PlaceResult::kFailed;
    };
    struct stat st;
    if (to.empty() || stat(from.c_str(), &st) != 0) return failed(to.empty() ? ENOENT : errno);
    if (!S_ISREG(st.st_mode)) return failed(EINVAL);
    if (int e = SyncFile(from)) return failed(e);

    Claim claim = MoveInto(from, to, replace, useRename2, err);
    if (claim == Claim::kCrossDevice) {
        // Another file system: a complete, flushed copy next to the destination is what moves.
        int in = open(from.c_str(), O_RDONLY | O_CLOEXEC);
        if (in < 0) return failed(errno);
        std::string part;
        int out = CreateHiddenTemp(FolderPart(to), part, err);
        if (out < 0) {
            close(in);
            return failed(err);
        }
        err = CopyContents(in, out);
        close(in);
        if (err == 0 && fsync(out) != 0 && errno != EINVAL) err = errno;
        if (close(out) != 0 && err == 0) err = errno;
        if (err != 0) {
            unlink(part.c_str());
            return failed(err);
        }
        claim = MoveInto(part, to, replace, useRename2, err);
        if (claim != Claim::kDone) unlink(part.c_str());
        if (claim == Claim::kCrossDevice) claim = Claim::kFailed;
    }
    if (claim == Claim::kDone) return PlaceResult::kPlaced;
    if (claim == Claim::kTaken) return PlaceResult::kNameTaken;
    return failed(err);
}

} // namespace

PlaceResult PlaceFile(const std::string &from, const std::string &to, bool replace, int *error) {
    return Place(from, to, replace, true, error);
}

PlaceResult PlaceFileByLink(const std::string &from, const std::string &to, bool replace, int *error) {
    return Place(from, to, replace, false, error);
}

int FolderWriteError(const std::string &folder, int64_t bytes) {
    std::string probe;
    int err = 0;
    int fd = CreateHiddenTemp(folder, probe, err);
    if (fd < 0) return err;
    if (bytes > 0) err = posix_fallocate(fd, 0, static_cast<off_t>(bytes));
    close(fd);
    unlink(probe.c_str());
    return err;
}

std::string SystemErrorText(int error) {
    char buf[256];
    return strerror_r(error, buf, sizeof buf);  // the GNU variant: returns the text
}

bool CopyFileReplacing(const std::string &from, const std::string &to) {
    int in = open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return false;
    struct stat st;
    if (fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(in);
        return false;
    }
    std::string tmp = FolderPart(to) + ".qmrk_copy_" + std::to_string(getpid()) + "_" + FileNamePart(to);
    int out = open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (out < 0) {
        close(in);
        return false;
    }
    bool ok = CopyContents(in, out) == 0;
    close(in);
    if (close(out) != 0) ok = false;
    if (ok && rename(tmp.c_str(), to.c_str()) != 0) ok = false;
    if (!ok) unlink(tmp.c_str());
    return ok;
}

} // namespace qm
