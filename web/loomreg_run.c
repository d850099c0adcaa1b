#define _POSIX_C_SOURCE 200809L
#include "loomreg_run.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include "siteconfig.h"
#include "store_files.h"

extern char** environ;

static const char kDirectoryPrefix[] = "save-";

static int WriteAll(int fd, const char* data, size_t length) {
  while (length > 0) {
    ssize_t written = write(fd, data, length);
    if (written < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    data += written;
    length -= (size_t)written;
  }
  return 0;
}

/* The files loomreg and this program put into a working directory; nothing else is removed. */
static const char* const kDirectoryFiles[] = {"TimeExec.dat", "KVR_PATH.inf"};

static void RemoveDirectoryAt(int parent, const char* name) {
  int fd = openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  size_t i;
  if (fd < 0) return;
  for (i = 0; i < sizeof kDirectoryFiles / sizeof kDirectoryFiles[0]; ++i) {
    unlinkat(fd, kDirectoryFiles[i], 0);
  }
  close(fd);
  unlinkat(parent, name, AT_REMOVEDIR);
}

void SweepRequestDirectories(void) {
  DIR* app = opendir(".");
  struct dirent* entry;
  time_t now = time(NULL);
  if (app == NULL) return;
  while ((entry = readdir(app)) != NULL) {
    struct stat st;
    const char* name = entry->d_name;
    /* mkdtemp's names: the prefix and six letters or digits. */
    if (strncmp(name, kDirectoryPrefix, sizeof kDirectoryPrefix - 1) != 0 ||
        strlen(name) != sizeof kDirectoryPrefix - 1 + 6) {
      continue;
    }
    if (fstatat(dirfd(app), name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISDIR(st.st_mode)) continue;
    if (now - st.st_mtime > LEFTOVER_SECONDS) RemoveDirectoryAt(dirfd(app), name);
  }
  closedir(app);
}

/* The directory is one level below the application directory, so "KVR=/r/" climbs one level
 * and KVRDATA= carries the application's data root on from there; an absolute data root is
 * taken as it is ("KVR=/" climbs nowhere). */
int MakeRequestDirectory(char* directory, size_t size) {
  const char* root = MakeDataRoot();
  char settings[PATH_SIZE];
  char path[PATH_SIZE];
  int written, fd;
  /* KVRDATA= takes at most 247 bytes. */
  if (strlen(root) + 1 > 247 || size < sizeof "save-XXXXXX") return -1;
  strcpy(directory, "save-XXXXXX");
  if (mkdtemp(directory) == NULL) return -1;
  written = root[0] == '/'
                ? snprintf(settings, sizeof settings, "KVR=/\r\nKVRDATA=%s\r\n", root)
                : snprintf(settings, sizeof settings, "KVR=/r/\r\nKVRDATA=/%s\r\n", root);
  if (written < 0 || (size_t)written >= sizeof settings ||
      snprintf(path, sizeof path, "%s/KVR_PATH.inf", directory) >= (int)sizeof path) {
    rmdir(directory);
    return -1;
  }
  fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd >= 0 && WriteAll(fd, settings, (size_t)written) != 0) {
    close(fd);
    fd = -1;
  } else if (fd >= 0 && close(fd) != 0) {
    fd = -1; /* close() releases the descriptor even when it fails */
  }
  if (fd < 0) {
    unlink(path);
    rmdir(directory);
    return -1;
  }
  return 0;
}

void RemoveRequestDirectory(const char* directory) { RemoveDirectoryAt(AT_FDCWD, directory); }

/* The run status loomreg left in TimeExec.dat: 0 or -1, or RUN_NO_RESULT when it is missing or
 * says something else. */
static int ReadRunStatus(const char* directory) {
  char path[PATH_SIZE], text[8];
  size_t length = 0;
  FILE* file;
  LoomregStoreResult state;
  snprintf(path, sizeof path, "%s/TimeExec.dat", directory);
  state = OpenStoreFile(path, &file);
  if (state != LOOMREG_STORE_OK) return RUN_NO_RESULT;
  length = fread(text, 1, sizeof text, file);
  fclose(file);
  if (length == 3 && memcmp(text, "0\r\n", 3) == 0) return 0;
  if (length == 4 && memcmp(text, "-1\r\n", 4) == 0) return -1;
  return RUN_NO_RESULT;
}

int RunLoomreg(char* const* words, const char* directory, char* message) {
  posix_spawn_file_actions_t actions;
  int pipe_fds[2], app_fd, started, status, back = 1;
  size_t used = 0;
  pid_t pid;
  char buffer[512];
  ssize_t got;

  message[0] = '\0';
  if (pipe(pipe_fds) != 0) return -2;
  fcntl(pipe_fds[0], F_SETFD, FD_CLOEXEC);
  fcntl(pipe_fds[1], F_SETFD, FD_CLOEXEC);
  app_fd = open(".", O_RDONLY | O_CLOEXEC);
  if (app_fd < 0 || posix_spawn_file_actions_init(&actions) != 0) {
    if (app_fd >= 0) close(app_fd);
    close(pipe_fds[0]);
    close(pipe_fds[1]);
    return -2;
  }
  started = posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0) == 0 &&
            posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0) == 0 &&
            posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], 2) == 0;
  /* The child inherits the working directory: enter the request's directory to start it,
   * and come back to the application directory right after. */
  if (started && chdir(directory) == 0) {
    started = posix_spawn(&pid, LOOMREG_PROGRAM, &actions, NULL, words, environ) == 0;
    if (fchdir(app_fd) != 0) back = 0;
  } else {
    started = 0;
  }
  posix_spawn_file_actions_destroy(&actions);
  close(app_fd);
  close(pipe_fds[1]);
  if (!started) {
    close(pipe_fds[0]);
    return -2;
  }
  /* Read standard error to its end before waiting, so that loomreg never blocks on a full pipe. */
  for (;;) {
    got = read(pipe_fds[0], buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    if (used < MESSAGE_LIMIT) {
      size_t keep = (size_t)got < MESSAGE_LIMIT - used ? (size_t)got : MESSAGE_LIMIT - used;
      memcpy(message + used, buffer, keep);
      used += keep;
    }
  }
  message[used] = '\0';
  close(pipe_fds[0]);
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return RUN_NO_RESULT;
  }
  return back ? ReadRunStatus(directory) : RUN_NO_RESULT;
}
