/* The floor for directory walkers: the least work a parallel total-size scan can do.
 * Worker threads share a queue of directory paths; each opens a directory, reads it with
 * getdents64 into a large buffer, calls statx once per regular file relative to the open
 * directory, queues the subdirectories, and closes it. Nothing else: no nodes, no names
 * kept, no links followed.
 *
 * Usage: floor_walker [-j THREADS] PATH   (prints entries and total logical size)
 */
#define _GNU_SOURCE
#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#define BUFFER_SIZE (104704)

struct dirent64_raw {
  uint64_t d_ino;
  int64_t d_off;
  unsigned short d_reclen;
  unsigned char d_type;
  char d_name[];
};

static pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
static pthread_cond_t wake = PTHREAD_COND_INITIALIZER;
static char** queue;
static size_t queue_count, queue_capacity;
static int busy;
static uint64_t total_entries, total_size;

static void push(char* path) {
  if (queue_count == queue_capacity) {
    queue_capacity = queue_capacity ? queue_capacity * 2 : 1024;
    queue = realloc(queue, queue_capacity * sizeof *queue);
  }
  queue[queue_count++] = path;
}

static void list(const char* path, char** found, size_t* nfound, size_t* cap, uint64_t* entries, uint64_t* size,
                 char* buffer) {
  int fd = open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return;
  size_t plen = strlen(path);
  for (;;) {
    long n = syscall(SYS_getdents64, fd, buffer, BUFFER_SIZE);
    if (n <= 0) break;
    for (long off = 0; off < n;) {
      struct dirent64_raw* e = (struct dirent64_raw*)(buffer + off);
      off += e->d_reclen;
      const char* name = e->d_name;
      if (name[0] == '.' && (!name[1] || (name[1] == '.' && !name[2]))) continue;
      ++*entries;
      if (e->d_type == DT_REG) {
        struct statx st;
        if (statx(fd, name, AT_SYMLINK_NOFOLLOW, STATX_SIZE, &st) == 0) *size += st.stx_size;
      } else if (e->d_type == DT_DIR) {
        size_t nlen = strlen(name);
        char* sub = malloc(plen + nlen + 2);
        memcpy(sub, path, plen);
        sub[plen] = '/';
        memcpy(sub + plen + 1, name, nlen + 1);
        if (*nfound == *cap) {
          *cap = *cap ? *cap * 2 : 64;
          *found = (char*)realloc(*found, *cap * sizeof(char*));
        }
        ((char**)*found)[(*nfound)++] = sub;
      }
    }
  }
  close(fd);
}

static void* worker(void* unused) {
  (void)unused;
  char* buffer = malloc(BUFFER_SIZE);
  char** found = NULL;
  size_t cap = 0;
  uint64_t entries = 0, size = 0;
  pthread_mutex_lock(&lock);
  for (;;) {
    while (queue_count == 0 && busy > 0) pthread_cond_wait(&wake, &lock);
    if (queue_count == 0) break;
    char* path = queue[--queue_count];
    ++busy;
    pthread_mutex_unlock(&lock);
    size_t nfound = 0;
    list(path, (char**)&found, &nfound, &cap, &entries, &size, buffer);
    free(path);
    pthread_mutex_lock(&lock);
    for (size_t i = 0; i < nfound; ++i) push(found[i]);
    --busy;
    pthread_cond_broadcast(&wake);
  }
  total_entries += entries;
  total_size += size;
  pthread_cond_broadcast(&wake);
  pthread_mutex_unlock(&lock);
  free(found);
  free(buffer);
  return NULL;
}

int main(int argc, char** argv) {
  int threads = 2;
  int arg = 1;
  if (argc > 2 && strcmp(argv[1], "-j") == 0) {
    threads = atoi(argv[2]);
    arg = 3;
  }
  if (arg >= argc || threads < 1) {
    fprintf(stderr, "usage: floor_walker [-j THREADS] PATH\n");
    return 2;
  }
  push(strdup(argv[arg]));
  pthread_t* ids = calloc((size_t)threads, sizeof *ids);
  for (int i = 0; i < threads; ++i) pthread_create(&ids[i], NULL, worker, NULL);
  for (int i = 0; i < threads; ++i) pthread_join(ids[i], NULL);
  printf("%llu entries, %llu bytes\n", (unsigned long long)total_entries, (unsigned long long)total_size);
  free(ids);
  free(queue);
  return 0;
}
