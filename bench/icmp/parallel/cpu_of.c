/* Runs a command as a whole process and writes its wall time (fork to reaping, start-up
 * included) and its processor time (user and system, from wait4) to OUT-FILE as
 * "wall-seconds cpu-seconds". Its output passes through; the exit status is the command's.
 * Usage: cpu_of OUT-FILE COMMAND [ARG...] */
#include <stdio.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

static double seconds(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec + t.tv_nsec / 1e9;
}

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    double start = seconds();
    pid_t child = fork();
    if (child < 0) {
        perror("fork");
        return 1;
    }
    if (child == 0) {
        execvp(argv[2], argv + 2);
        perror(argv[2]);
        _exit(127);
    }
    int status;
    struct rusage usage;
    if (wait4(child, &status, 0, &usage) < 0) {
        perror("wait4");
        return 1;
    }
    double wall = seconds() - start;
    double cpu = usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec +
                 usage.ru_stime.tv_usec / 1e6;
    FILE* out = fopen(argv[1], "w");
    if (out == NULL) {
        perror(argv[1]);
        return 1;
    }
    fprintf(out, "%.6f %.6f\n", wall, cpu);
    fclose(out);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}
