/* The floor of a whole-file load into fresh memory: an anonymous mapping
 * advised to use transparent huge pages, read into in 64 MiB pieces. The
 * kernel still faults in and zeroes every page before the copy from the
 * page cache lands in it; that cost is what separates a load from `cat`.
 * The mapping starts on a 2 MiB boundary so that every piece of it can be a
 * huge page. */
#include <stdint.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "Usage: %s <file>\n", argv[0]);
        return 1;
    }
    const int fd = open(argv[1], O_RDONLY);
    struct stat info;
    if (fd < 0 || fstat(fd, &info) != 0 || info.st_size <= 0) {
        perror(argv[1]);
        return 1;
    }
    const size_t size = (size_t)info.st_size;
    const size_t huge = (size_t)2 << 20;
    unsigned char* raw = mmap(NULL, size + huge, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) {
        perror("mmap");
        return 1;
    }
    unsigned char* bytes = raw + (huge - (uintptr_t)raw % huge) % huge;
#ifdef MADV_HUGEPAGE
    madvise(bytes, size, MADV_HUGEPAGE);
#endif
    const size_t piece = (size_t)64 << 20;
    size_t done = 0;
    while (done < size) {
        const size_t want = size - done < piece ? size - done : piece;
        const ssize_t got = read(fd, bytes + done, want);
        if (got <= 0) {
            break;
        }
        done += (size_t)got;
    }
    /* Touch the result so that nothing can be skipped. */
    unsigned sum = 0;
    for (size_t i = 0; i < done; i += 4096) {
        sum += bytes[i];
    }
    printf("%zu bytes, %u\n", done, sum & 1);
    return 0;
}
