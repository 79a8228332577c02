// SPDX-License-Identifier: MIT
// kv_cardfs: the sandbox's SD card (or flash) as a FUSE file system that fails the way
// cards fail, so that a power cut, a full card, a pulled card, a card the kernel turned
// read-only and a slow card are each a test.
//
//   kv_cardfs <folder> <control-fd>
//
// Serves <folder> from memory, starting with what the folder held. Every file keeps two
// contents: what the programs wrote, and what reached the card for certain (the last
// fsync/fdatasync). A power cut keeps only the latter, as a card without its cache does.
// Writes bypass the kernel's page cache (direct I/O), so every write() and sync of a
// program arrives here as it was made, and is counted per file.
//
// The test drives it over <control-fd>, one line per command, each answered by "ok"
// (stats first lists one line per file):
//   cut [torn]    power gone: every file back to its synced content (torn: plus half of
//                 the next 512-byte block, a sync cut short); files never synced are gone;
//                 every call fails with EIO until "on"
//   on            power back
//   full <bytes>  ENOSPC once that many more bytes have been written; "full -1" lifts it
//   pull          the card is pulled: EIO on every call
//   gone          the folder is empty (the card is out); "insert" puts it back as synced
//   ro <0|1>      EROFS for every change (vfat's answer to a card error)
//   slow <write_ms> <sync_ms>   every write / sync takes that long
//   stats         "<path> writes=<n> whole=<n> bytes=<n> syncs=<n>" per file
//   quit          unmount and end
// It ends (unmounting) on SIGTERM and when its parent, the test, dies; the folder then
// holds what the card held.
#define FUSE_USE_VERSION 31

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <fuse.h>
#include <signal.h>
#ifdef __SANITIZE_ADDRESS__
#include <sanitizer/lsan_interface.h>
#endif
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <thread>

namespace {

constexpr size_t kBlock = 512;
constexpr uint64_t kCardBytes = 4ull << 30;  // what statfs reports: a 4 GB card

struct Node {
  bool dir = false;
  mode_t mode = 0644;
  std::string data;     // what the programs wrote
  std::string durable;  // what a cut leaves
  bool synced = false;  // has a durable content (imported or synced once)
  uint64_t writes = 0, whole = 0, bytes = 0, syncs = 0;
};

struct Card {
  std::mutex mutex;
  std::map<std::string, Node> nodes;
  bool off = false, pulled = false, gone = false, read_only = false;
  int64_t space_left = -1;  // -1: no limit
  int write_ms = 0, sync_ms = 0;
  uint64_t generation = 1;  // a cut or a pull invalidates every open file
  std::string mountpoint;
  struct fuse *fuse = nullptr;
} g;

using Lock = std::unique_lock<std::mutex>;

// EIO while the power is off or the card is pulled, ENOENT once it is out.
int unavailable(const char *path) {
  if (g.off || g.pulled) return -EIO;
  if (g.gone) return strcmp(path, "/") == 0 ? 0 : -ENOENT;
  return 0;
}

int staleHandle(const fuse_file_info *fi) { return fi && fi->fh != g.generation ? -EIO : 0; }

std::string parentOf(const std::string &path) {
  size_t slash = path.rfind('/');
  return slash == 0 ? "/" : path.substr(0, slash);
}

Node *find(const std::string &path) {
  auto it = g.nodes.find(path);
  return it == g.nodes.end() ? nullptr : &it->second;
}

void pause(int ms) {
  if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// ---- file system calls ---------------------------------------------------------------

int cardGetattr(const char *path, struct stat *st, fuse_file_info *) {
  Lock lock(g.mutex);
  if (int e = unavailable(path)) return e;
  memset(st, 0, sizeof *st);
  Node *n = find(path);
  if (!n || (g.gone && strcmp(path, "/") != 0)) return -ENOENT;
  st->st_mode = (n->dir ? S_IFDIR : S_IFREG) | n->mode;
  st->st_nlink = n->dir ? 2 : 1;
  st->st_size = static_cast<off_t>(n->data.size());
  st->st_blksize = kBlock;
  st->st_blocks = static_cast<blkcnt_t>((n->data.size() + 511) / 512);
  return 0;
}

int cardReaddir(const char *path, void *buf, fuse_fill_dir_t fill, off_t, fuse_file_info *,
                fuse_readdir_flags) {
  Lock lock(g.mutex);
  if (int e = unavailable(path)) return e;
  fill(buf, ".", nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
  fill(buf, "..", nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
  if (g.gone) return 0;
  std::string prefix = strcmp(path, "/") == 0 ? "/" : std::string(path) + "/";
  for (auto &[name, node] : g.nodes) {
    if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) continue;
    if (name.find('/', prefix.size()) != std::string::npos) continue;
    fill(buf, name.c_str() + prefix.size(), nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
  }
  return 0;
}

// Checks shared by every call that changes the card.
int changeAllowed(const char *path) {
  if (int e = unavailable(path)) return e;
  if (g.gone) return -EIO;
  if (g.read_only) return -EROFS;
  return 0;
}

int cardMkdir(const char *path, mode_t mode) {
  Lock lock(g.mutex);
  if (int e = changeAllowed(path)) return e;
  if (find(path)) return -EEXIST;
  Node *parent = find(parentOf(path));
  if (!parent || !parent->dir) return -ENOENT;
  Node &n = g.nodes[path];
  n.dir = true;
  n.mode = mode & 07777;
  n.synced = true;  // folders are kept (a simplification: the card's folder table)
  return 0;
}

int cardUnlink(const char *path) {
  Lock lock(g.mutex);
  if (int e = changeAllowed(path)) return e;
  Node *n = find(path);
  if (!n) return -ENOENT;
  if (n->dir) return -EISDIR;
  g.nodes.erase(path);
  return 0;
}

int cardRmdir(const char *path) {
  Lock lock(g.mutex);
  if (int e = changeAllowed(path)) return e;
  Node *n = find(path);
  if (!n) return -ENOENT;
  if (!n->dir) return -ENOTDIR;
  std::string prefix = std::string(path) + "/";
  auto next = g.nodes.upper_bound(path);
  if (next != g.nodes.end() && next->first.compare(0, prefix.size(), prefix) == 0)
    return -ENOTEMPTY;
  g.nodes.erase(path);
  return 0;
}

int cardRename(const char *from, const char *to, unsigned int flags) {
  Lock lock(g.mutex);
  if (flags) return -EINVAL;
  if (int e = changeAllowed(from)) return e;
  Node *n = find(from);
  if (!n) return -ENOENT;
  if (n->dir) return -EXDEV;  // no caller moves folders
  Node moved = *n;
  g.nodes.erase(from);
  g.nodes[to] = moved;
  return 0;
}

int cardCreate(const char *path, mode_t mode, fuse_file_info *fi) {
  Lock lock(g.mutex);
  if (int e = changeAllowed(path)) return e;
  Node *parent = find(parentOf(path));
  if (!parent || !parent->dir) return -ENOENT;
  Node &n = g.nodes[path];
  n.mode = mode & 07777;
  fi->fh = g.generation;
  fi->direct_io = 1;
  return 0;
}

int cardOpen(const char *path, fuse_file_info *fi) {
  Lock lock(g.mutex);
  if (int e = unavailable(path)) return e;
  Node *n = find(path);
  if (!n || g.gone) return -ENOENT;
  bool writing = (fi->flags & O_ACCMODE) != O_RDONLY;
  if (writing && g.read_only) return -EROFS;
  if (writing && (fi->flags & O_TRUNC)) n->data.clear();
  fi->fh = g.generation;
  fi->direct_io = 1;
  return 0;
}

int cardRead(const char *path, char *buf, size_t size, off_t offset, fuse_file_info *fi) {
  Lock lock(g.mutex);
  if (int e = unavailable(path)) return e;
  if (int e = staleHandle(fi)) return e;
  Node *n = find(path);
  if (!n) return -ENOENT;
  if (static_cast<size_t>(offset) >= n->data.size()) return 0;
  size_t count = std::min(size, n->data.size() - static_cast<size_t>(offset));
  memcpy(buf, n->data.data() + offset, count);
  return static_cast<int>(count);
}

int cardWrite(const char *path, const char *buf, size_t size, off_t offset, fuse_file_info *fi) {
  Lock lock(g.mutex);
  int delay = g.write_ms;
  lock.unlock();
  pause(delay);
  lock.lock();
  if (int e = changeAllowed(path)) return e;
  if (int e = staleHandle(fi)) return e;
  Node *n = find(path);
  if (!n) return -ENOENT;
  ++n->writes;
  if (size == kBlock) ++n->whole;
  size_t end = static_cast<size_t>(offset) + size;
  if (g.space_left >= 0 && end > n->data.size() + static_cast<uint64_t>(g.space_left)) {
    // What still fits is written, as a file system fills its last cluster.
    size_t limit = n->data.size() + static_cast<size_t>(g.space_left);
    if (static_cast<size_t>(offset) >= limit) return -ENOSPC;
    size = limit - static_cast<size_t>(offset);
    end = limit;
  }
  size_t grows = end > n->data.size() ? end - n->data.size() : 0;
  if (end > n->data.size()) n->data.resize(end, '\0');
  memcpy(n->data.data() + offset, buf, size);
  n->bytes += size;
  if (g.space_left >= 0) g.space_left -= static_cast<int64_t>(grows);
  return static_cast<int>(size);
}

int cardTruncate(const char *path, off_t size, fuse_file_info *fi) {
  Lock lock(g.mutex);
  if (int e = changeAllowed(path)) return e;
  if (int e = staleHandle(fi)) return e;
  Node *n = find(path);
  if (!n) return -ENOENT;
  n->data.resize(static_cast<size_t>(size), '\0');
  return 0;
}

int cardFsync(const char *path, int, fuse_file_info *fi) {
  Lock lock(g.mutex);
  int delay = g.sync_ms;
  lock.unlock();
  pause(delay);
  lock.lock();
  if (int e = unavailable(path)) return e;
  if (int e = staleHandle(fi)) return e;
  Node *n = find(path);
  if (!n) return -ENOENT;
  if (g.read_only && (!n->synced || n->durable != n->data)) return -EROFS;
  n->durable = n->data;
  n->synced = true;
  ++n->syncs;
  return 0;
}

int cardStatfs(const char *path, struct statvfs *st) {
  Lock lock(g.mutex);
  if (int e = unavailable(path)) return e;
  memset(st, 0, sizeof *st);
  uint64_t used = 0;
  for (auto &[name, node] : g.nodes) used += node.data.size();
  uint64_t total = kCardBytes / kBlock;
  uint64_t free_blocks = g.space_left >= 0 ? static_cast<uint64_t>(g.space_left) / kBlock
                                           : total - std::min(total, used / kBlock);
  st->f_bsize = st->f_frsize = kBlock;
  st->f_blocks = total;
  st->f_bfree = st->f_bavail = free_blocks;
  st->f_namemax = 255;
  return 0;
}

int cardNothing(const char *path, fuse_file_info *) {
  Lock lock(g.mutex);
  return unavailable(path) < 0 ? -EIO : 0;
}

int cardUtimens(const char *path, const struct timespec *, fuse_file_info *) {
  Lock lock(g.mutex);
  if (int e = changeAllowed(path)) return e;
  return find(path) ? 0 : -ENOENT;
}

int cardChmod(const char *path, mode_t mode, fuse_file_info *) {
  Lock lock(g.mutex);
  if (int e = changeAllowed(path)) return e;
  Node *n = find(path);
  if (!n) return -ENOENT;
  n->mode = mode & 07777;
  return 0;
}

int cardChown(const char *path, uid_t, gid_t, fuse_file_info *) {
  Lock lock(g.mutex);
  if (int e = changeAllowed(path)) return e;
  return find(path) ? 0 : -ENOENT;
}

void *cardInit(fuse_conn_info *, fuse_config *cfg) {
  // Nothing cached in the kernel: sizes after a cut and every write are seen as they are.
  cfg->direct_io = 1;
  cfg->attr_timeout = 0;
  cfg->entry_timeout = 0;
  cfg->negative_timeout = 0;
  cfg->use_ino = 0;
  return nullptr;
}

// ---- the test's commands -------------------------------------------------------------

void powerCut(bool torn) {
  for (auto it = g.nodes.begin(); it != g.nodes.end();) {
    Node &n = it->second;
    if (n.dir) {
      ++it;
      continue;
    }
    if (!n.synced) {
      it = g.nodes.erase(it);
      continue;
    }
    std::string kept = n.durable;
    if (torn && n.data.size() > kept.size() && n.data.compare(0, kept.size(), kept) == 0)
      kept += n.data.substr(kept.size(), std::min(kBlock / 2, n.data.size() - kept.size()));
    n.data = kept;
    ++it;
  }
  g.off = true;
  ++g.generation;
}

std::string stats() {
  std::string out;
  for (auto &[name, n] : g.nodes) {
    if (n.dir) continue;
    char line[512];
    snprintf(line, sizeof line, "%s writes=%llu whole=%llu bytes=%llu syncs=%llu\n", name.c_str(),
             static_cast<unsigned long long>(n.writes), static_cast<unsigned long long>(n.whole),
             static_cast<unsigned long long>(n.bytes), static_cast<unsigned long long>(n.syncs));
    out += line;
  }
  return out;
}

std::atomic<bool> g_detached{false};
// Set once the loop is over: the control thread, which ends when the test closes its
// end (after a "quit" too), must not touch the session that main then destroys.
std::mutex g_serving_mutex;
bool g_served = false;

void endServing() {
  std::lock_guard<std::mutex> held(g_serving_mutex);
  if (g_served) return;
  g_served = true;
  if (g.fuse) fuse_exit(g.fuse);
  // The loop's threads wait in the kernel: taking the mount away wakes them.
  if (umount2(g.mountpoint.c_str(), MNT_DETACH) == 0) g_detached = true;
}

std::string command(const std::string &line) {
  char word[16] = {};
  long long a = 0, b = 0;
  int n = sscanf(line.c_str(), "%15s %lld %lld", word, &a, &b);
  std::string cmd = n >= 1 ? word : "";
  Lock lock(g.mutex);
  if (cmd == "cut")
    powerCut(line.find("torn") != std::string::npos);
  else if (cmd == "on")
    g.off = false;
  else if (cmd == "full")
    g.space_left = n >= 2 ? a : -1;
  else if (cmd == "pull") {
    g.pulled = true;
    ++g.generation;
  } else if (cmd == "gone") {
    g.gone = true;
    g.pulled = false;
  } else if (cmd == "insert") {
    // What the card holds is what reached it: a pull is a power cut for the card.
    powerCut(false);
    g.off = g.pulled = g.gone = false;
  } else if (cmd == "ro")
    g.read_only = a != 0;
  else if (cmd == "slow") {
    g.write_ms = static_cast<int>(a);
    g.sync_ms = static_cast<int>(b);
  } else if (cmd == "stats")
    return stats() + "ok\n";
  else if (cmd == "quit") {
    lock.unlock();
    endServing();
  } else
    return "unknown command\n";
  return "ok\n";
}

void controlLoop(int fd) {
  std::string pending;
  char buf[256];
  for (;;) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;  // the test is gone
    pending.append(buf, static_cast<size_t>(n));
    size_t eol;
    while ((eol = pending.find('\n')) != std::string::npos) {
      std::string reply = command(pending.substr(0, eol));
      pending.erase(0, eol + 1);
      if (write(fd, reply.data(), reply.size()) < 0) break;
    }
  }
  endServing();
}

// The folder's files before the mount become the card's synced content.
void importFolder(const std::string &root, const std::string &rel) {
  g.nodes[rel.empty() ? "/" : rel].dir = true;
  g.nodes[rel.empty() ? "/" : rel].mode = 0755;
  g.nodes[rel.empty() ? "/" : rel].synced = true;
  DIR *d = opendir((root + rel).c_str());
  if (!d) return;
  while (dirent *e = readdir(d)) {
    std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    std::string path = rel + "/" + name;
    struct stat st;
    if (lstat((root + path).c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode)) {
      importFolder(root, path);
    } else if (S_ISREG(st.st_mode)) {
      Node &n = g.nodes[path];
      FILE *f = fopen((root + path).c_str(), "rb");
      char chunk[4096];
      size_t got;
      while (f && (got = fread(chunk, 1, sizeof chunk, f)) > 0) n.data.append(chunk, got);
      if (f) fclose(f);
      n.durable = n.data;
      n.synced = true;
      n.mode = st.st_mode & 07777;
    }
  }
  closedir(d);
}

// After the unmount the folder gets the card's content, so that a kept sandbox (and the
// demo's boards) show what the card held.
void writeBack() {
  std::error_code ec;
  for (const auto &entry : std::filesystem::directory_iterator(g.mountpoint, ec))
    std::filesystem::remove_all(entry.path(), ec);
  for (auto &[name, n] : g.nodes) {
    std::string path = g.mountpoint + name;
    if (n.dir) {
      std::filesystem::create_directories(path, ec);
      continue;
    }
    FILE *f = fopen(path.c_str(), "wb");
    if (!f) continue;
    fwrite(n.data.data(), 1, n.data.size(), f);
    fclose(f);
  }
}

void onTerm(int) {
  if (umount2(g.mountpoint.c_str(), MNT_DETACH) == 0) g_detached = true;
}

// libfuse keeps the mount point's name until fuse_unmount, which a mount taken away
// detached (the way the card ends) never gets: that copy is not reported as a leak.
int mount(fuse *session, const std::string &at) {
#ifdef __SANITIZE_ADDRESS__
  __lsan_disable();
#endif
  int result = fuse_mount(session, at.c_str());
#ifdef __SANITIZE_ADDRESS__
  __lsan_enable();
#endif
  return result;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: kv_cardfs <folder> <control-fd>\n");
    return 2;
  }
  prctl(PR_SET_PDEATHSIG, SIGTERM);
  g.mountpoint = argv[1];
  int control = atoi(argv[2]);
  importFolder(g.mountpoint, "");

  fuse_operations ops = {};
  ops.getattr = cardGetattr;
  ops.readdir = cardReaddir;
  ops.mkdir = cardMkdir;
  ops.unlink = cardUnlink;
  ops.rmdir = cardRmdir;
  ops.rename = cardRename;
  ops.create = cardCreate;
  ops.open = cardOpen;
  ops.read = cardRead;
  ops.write = cardWrite;
  ops.truncate = cardTruncate;
  ops.fsync = cardFsync;
  ops.statfs = cardStatfs;
  ops.flush = cardNothing;
  ops.release = cardNothing;
  ops.utimens = cardUtimens;
  ops.chmod = cardChmod;
  ops.chown = cardChown;
  ops.init = cardInit;

  fuse_args args = FUSE_ARGS_INIT(0, nullptr);
  fuse_opt_add_arg(&args, "kv_cardfs");
  g.fuse = fuse_new(&args, &ops, sizeof ops, nullptr);
  if (!g.fuse || mount(g.fuse, g.mountpoint) != 0) {
    fprintf(stderr, "kv_cardfs: cannot mount %s\n", g.mountpoint.c_str());
    if (g.fuse) fuse_destroy(g.fuse);
    fuse_opt_free_args(&args);
    return 1;
  }
  struct sigaction sa = {};
  sa.sa_handler = onTerm;
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGINT, &sa, nullptr);
  // The test waits for this line before it uses the card.
  int status = -1;
  if (write(control, "mounted\n", 8) == 8) {
    std::thread(controlLoop, control).detach();
    status = fuse_loop_mt(g.fuse, 0);
  }
  {
    std::lock_guard<std::mutex> held(g_serving_mutex);
    g_served = true;
  }
  if (!g_detached) fuse_unmount(g.fuse);
  fuse_destroy(g.fuse);
  {
    Lock lock(g.mutex);
    writeBack();
  }
  fuse_opt_free_args(&args);
  return status < 0 ? 1 : 0;
}
