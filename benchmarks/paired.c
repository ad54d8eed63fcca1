/* Times two commands in alternation and prints the median of the second's wall time over the first's. */
/*
 * usage: paired PAIRS COMMAND_A... -- COMMAND_B...
 *
 * Runs A then B, PAIRS times after three pairs of warm-up, each with its
 * standard output on a pipe that is read to the end (so a run pays for
 * writing into a pipe, as in a script) and its standard input on /dev/null.
 * A pair's ratio is B's time over A's; alternating keeps both halves of a
 * pair under the same load, which drifts on a shared machine. Prints one
 * line: "median_a_ms median_b_ms median_ratio pairs".
 */
#define _GNU_SOURCE
#include <fcntl.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char** environ;

static double Now(void)
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (double)now.tv_sec + (double)now.tv_nsec / 1e9;
}

/* The seconds one run takes, or a negative value when it fails. */
static double TimeRun(char** command)
{
    int pipeEnds[2];
    if (pipe2(pipeEnds, O_CLOEXEC) != 0) {
        return -1;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], 1);
    double start = Now();
    pid_t child;
    int spawned = posix_spawn(&child, command[0], &actions, NULL, command, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeEnds[1]);
    if (spawned != 0) {
        close(pipeEnds[0]);
        return -1;
    }
    char buffer[65536];
    while (read(pipeEnds[0], buffer, sizeof(buffer)) > 0) {
    }
    int status = 0;
    waitpid(child, &status, 0);
    double elapsed = Now() - start;
    close(pipeEnds[0]);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? elapsed : -1;
}

static int CompareDoubles(const void* a, const void* b)
{
    double x = *(const double*)a;
    double y = *(const double*)b;
    return x < y ? -1 : x > y;
}

static double Median(double* values, int count)
{
    qsort(values, (size_t)count, sizeof(double), CompareDoubles);
    return count % 2 ? values[count / 2] : (values[count / 2 - 1] + values[count / 2]) / 2;
}

int main(int argc, char** argv)
{
    int split = 2;
    while (split < argc && strcmp(argv[split], "--") != 0) {
        ++split;
    }
    int pairs = argc > 1 ? atoi(argv[1]) : 0;
    if (pairs < 1 || split == 2 || split >= argc - 1) {
        fprintf(stderr, "usage: paired PAIRS COMMAND_A... -- COMMAND_B...\n");
        return 2;
    }
    argv[split] = NULL;
    char** first = argv + 2;
    char** second = argv + split + 1;
    double* a = malloc(sizeof(double) * (size_t)pairs);
    double* b = malloc(sizeof(double) * (size_t)pairs);
    double* ratios = malloc(sizeof(double) * (size_t)pairs);
    if (a == NULL || b == NULL || ratios == NULL) {
        return 1;
    }
    for (int i = -3; i < pairs; ++i) {
        double timeA = TimeRun(first);
        double timeB = TimeRun(second);
        if (timeA < 0 || timeB < 0) {
            fprintf(stderr, "paired: %s failed\n", timeA < 0 ? first[0] : second[0]);
            return 1;
        }
        if (i >= 0) {
            a[i] = timeA;
            b[i] = timeB;
            ratios[i] = timeB / timeA;
        }
    }
    printf("%.4f %.4f %.4f %d\n", Median(a, pairs) * 1000, Median(b, pairs) * 1000, Median(ratios, pairs), pairs);
    return 0;
}
