// Appends numbered records to a history file as fast as it can, the way the
// logger does: open for appending, flock(LOCK_EX), make sure the descriptor
// still names the file at the path (reopen if a rewrite replaced it), one
// write() per record, close. With "nolock" it skips the lock and the check,
// which is what the lock protocol is there to make safe.
//
//     tamsin_appender PATH COUNT lock|nolock
//
// Record i is stamped 01/01/2024 00:00:00 plus i seconds, so record times
// rise in file order, and carries "record i" as its message.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

int OpenLocked(const char *path, bool lock)
{
    for (;;) {
        const int fd = open(path, O_WRONLY | O_APPEND | O_CLOEXEC);
        if (fd < 0 || !lock)
            return fd;
        if (flock(fd, LOCK_EX) != 0) {
            close(fd);
            return -1;
        }
        struct stat held;
        struct stat named;
        if (fstat(fd, &held) == 0 && stat(path, &named) == 0 && held.st_dev == named.st_dev &&
            held.st_ino == named.st_ino)
            return fd;
        close(fd); // replaced while we waited: the lock guards a dead inode
    }
}

std::string Line(long i)
{
    long s = i;
    const int second = int(s % 60);
    s /= 60;
    const int minute = int(s % 60);
    s /= 60;
    const int hour = int(s % 24);
    long day = s / 24; // days after 01/01/2024; 2024 is a leap year
    static const int kDays[12] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    int year = 2024;
    int month = 0;
    for (;;) {
        const bool leap = year % 4 == 0;
        const int days = (month == 1 && !leap) ? 28 : kDays[month];
        if (day < days)
            break;
        day -= days;
        if (++month == 12) {
            month = 0;
            ++year;
        }
    }
    char buffer[128];
    std::snprintf(buffer, sizeof buffer, "%02d/%02ld/%04d %02d:%02d:%02d [Site %ld] record %ld\r\n",
                  month + 1, day + 1, year, hour, minute, second, i % 7, i);
    return buffer;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s PATH COUNT lock|nolock\n", argv[0]);
        return 2;
    }
    const char *path = argv[1];
    const long count = std::strtol(argv[2], nullptr, 10);
    const bool lock = std::strcmp(argv[3], "nolock") != 0;
    for (long i = 0; i < count; ++i) {
        const std::string line = Line(i);
        const int fd = OpenLocked(path, lock);
        if (fd < 0) {
            std::perror(path);
            return 1;
        }
        const ssize_t n = write(fd, line.data(), line.size());
        close(fd);
        if (n != ssize_t(line.size())) {
            std::fprintf(stderr, "short write of record %ld\n", i);
            return 1;
        }
    }
    return 0;
}
