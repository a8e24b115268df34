/* The file work of a batch and nothing else: for each locus of a folder made by
 * bench_targets.py, read its protein alignment and CDS whole, then write an output
 * as large as its expected alignment under a temporary name and rename it into
 * place; the loci dealt round-robin to WORKERS processes.
 *
 *   cc -O2 -o batch_file_floor benchmarks/batch_file_floor.c
 *   mkdir -p OUT && time ./batch_file_floor DATA/batch OUT 2
 */
#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

enum { MAX_LOCI = 100000, NAME_BYTES = 256, PATH_BYTES = 4096 };

static char buffer[1 << 20];

/* Reads a file whole into the buffer; its size. */
static long read_whole(const char *path) {
    int fd = open(path, O_RDONLY);
    if (fd < 0) {
        perror(path);
        exit(1);
    }
    long total = 0;
    ssize_t got;
    while ((got = read(fd, buffer, sizeof buffer)) > 0) total += got;
    close(fd);
    return total;
}

static void write_atomically(const char *out, const char *name, long size) {
    char temporary[PATH_BYTES], target[PATH_BYTES];
    snprintf(temporary, sizeof temporary, "%s/.%s.%d.tmp", out, name, (int)getpid());
    snprintf(target, sizeof target, "%s/%s", out, name);
    int fd = open(temporary, O_WRONLY | O_CREAT | O_EXCL, 0666);
    if (fd < 0 || size > (long)sizeof buffer || write(fd, buffer, (size_t)size) != size ||
        close(fd) != 0 || rename(temporary, target) != 0) {
        perror(temporary);
        exit(1);
    }
}

static void run_loci(const char *root, const char *out, char (*names)[NAME_BYTES], int count,
                     int first, int step) {
    char path[PATH_BYTES];
    for (int i = first; i < count; i += step) {
        snprintf(path, sizeof path, "%s/pep/%s", root, names[i]);
        read_whole(path);
        snprintf(path, sizeof path, "%s/cds/%s", root, names[i]);
        read_whole(path);
        snprintf(path, sizeof path, "%s/expected/%s", root, names[i]);
        write_atomically(out, names[i], read_whole(path));
    }
}

int main(int argc, char **argv) {
    if (argc != 4) {
        fprintf(stderr, "usage: %s BATCH_DIR OUT_DIR WORKERS\n", argv[0]);
        return 2;
    }
    const char *root = argv[1], *out = argv[2];
    int workers = atoi(argv[3]);
    static char names[MAX_LOCI][NAME_BYTES];
    int count = 0;
    char path[PATH_BYTES];
    snprintf(path, sizeof path, "%s/pep", root);
    DIR *folder = opendir(path);
    if (folder == NULL) {
        perror(path);
        return 1;
    }
    for (struct dirent *entry; (entry = readdir(folder)) != NULL && count < MAX_LOCI;)
        if (entry->d_name[0] != '.') snprintf(names[count++], NAME_BYTES, "%s", entry->d_name);
    closedir(folder);
    for (int worker = 0; worker < workers; ++worker) {
        if (fork() == 0) {
            run_loci(root, out, names, count, worker, workers);
            _exit(0);
        }
    }
    int status, failed = 0;
    while (wait(&status) > 0) failed |= !WIFEXITED(status) || WEXITSTATUS(status) != 0;
    return failed;
}
