// The run's lines: their names, look-up, order, and the memory the run holds.
#include "mgetty/MgFiles.h"
#include "mgetty/MgRun.h"

#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

void MgRunInit(MgRun* run)
{
    memset(run, 0, sizeof(*run));
    run->procFolder = -1;
}

void MgRunFree(MgRun* run)
{
    free(run->lines);
    free(run->processes);
    free(run->logins);
    free(run->texts);
    if (run->procFolder >= 0) {
        close(run->procFolder);
    }
    MgTrustEnd();
    MgRunInit(run);
}

bool MgGrow(void** data, uint32_t* capacity, uint32_t count, size_t size)
{
    if (count < *capacity) {
        return true;
    }
    uint32_t wanted = *capacity == 0 ? 16 : *capacity * 2;
    if (wanted <= *capacity || wanted > 0x7FFFFFFFu / size) {
        return false;
    }
    void* grown = realloc(*data, wanted * size);
    if (grown == nullptr) {
        return false;
    }
    *data = grown;
    *capacity = wanted;
    return true;
}

uint32_t MgKeepText(MgRun* run, const char* text, size_t length)
{
    if (length >= MG_PATH_SIZE) {
        return UINT32_MAX;
    }
    while (run->textSize + length + 1 > run->textCapacity) {
        void* texts = run->texts;
        if (!MgGrow(&texts, &run->textCapacity, run->textCapacity, 1)) {
            return UINT32_MAX;
        }
        run->texts = static_cast<char*>(texts);
    }
    uint32_t offset = run->textSize;
    memcpy(run->texts + offset, text, length);
    run->texts[offset + length] = 0;
    run->textSize += static_cast<uint32_t>(length) + 1;
    return offset;
}

static bool IsDevicePart(const char* text, size_t length)
{
    if (length == 0 || text[0] == '.' || text[0] == '-') {
        return false;
    }
    for (size_t i = 0; i < length; ++i) {
        char c = text[i];
        bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (!plain && strchr("._+-:@", c) == nullptr) {
            return false;
        }
    }
    return true;
}

bool MgIsDevicePath(const char* text, size_t length)
{
    if (length == 0 || length >= MG_NAME_SIZE) {
        return false;
    }
    const char* end = text + length;
    for (const char* part = text; part <= end;) {
        const char* slash = static_cast<const char*>(memchr(part, '/', static_cast<size_t>(end - part)));
        const char* partEnd = slash != nullptr ? slash : end;
        if (!IsDevicePart(part, static_cast<size_t>(partEnd - part))) {
            return false;
        }
        part = partEnd + 1;
    }
    return true;
}

MgLine* MgFindLine(MgRun* run, const char* name)
{
    for (uint32_t i = 0; i < run->count; ++i) {
        if (strcmp(run->lines[i].name, name) == 0) {
            return &run->lines[i];
        }
    }
    return nullptr;
}

// Where a device that is a link under /dev leads, as a path below /dev: the
// name login and pppd give the line, from the terminal they were handed.
static void FindNode(MgLine* line)
{
    char path[MG_PATH_SIZE];
    char folder[MG_PATH_SIZE];
    struct stat info;
    if (!MgPath(path, "/dev/%s", line->device) || lstat(path, &info) != 0 || !S_ISLNK(info.st_mode) ||
        !MgPath(folder, "/dev")) {
        return;
    }
    char resolved[MG_PATH_SIZE];
    char resolvedFolder[MG_PATH_SIZE];
    if (MgRealPathTrusted(path, MG_TRUST_DEVICE, resolved) != SUPRV_OK ||
        MgRealPathTrusted(folder, MG_TRUST_FOLDER, resolvedFolder) != SUPRV_OK) {
        return;
    }
    size_t length = strlen(resolvedFolder);
    const char* below = resolved + length + 1;
    if (strncmp(resolved, resolvedFolder, length) == 0 && resolved[length] == '/' &&
        MgIsDevicePath(below, strlen(below))) {
        strcpy(line->node, below);
    }
}

uint32_t MgAddLine(MgRun* run, const char* device, size_t length, MgSource source)
{
    if (!MgIsDevicePath(device, length)) {
        return SUPRV_OK;
    }
    char name[MG_NAME_SIZE];
    for (size_t i = 0; i < length; ++i) {
        name[i] = device[i] == '/' ? '-' : device[i];
    }
    name[length] = 0;
    MgLine* line = MgFindLine(run, name);
    if (line != nullptr) {
        line->sources |= source;
        return SUPRV_OK;
    }
    if (run->count >= MG_MAX_LINES) {
        return SUPRV_OK;
    }
    void* lines = run->lines;
    if (!MgGrow(&lines, &run->capacity, run->count, sizeof(MgLine))) {
        return SUPRV_ERROR_NOT_ENOUGH_MEMORY;
    }
    run->lines = static_cast<MgLine*>(lines);
    line = &run->lines[run->count++];
    memset(line, 0, sizeof(*line));
    memcpy(line->name, name, length + 1);
    memcpy(line->device, device, length);
    line->sources = source;
    FindNode(line);
    return SUPRV_OK;
}

// mgetty copies the device into utmp's line field whole, so a long one is
// cut at the field's width.
bool MgLoginOnLine(const MgLine* line, const char* utmpLine)
{
    return strncmp(utmpLine, line->device, MG_UTMP_LINE_SIZE) == 0 ||
           (line->node[0] != 0 && strncmp(utmpLine, line->node, MG_UTMP_LINE_SIZE) == 0);
}

static bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Names in the order a person counts them: ttyS2 before ttyS10. Names equal
// that way (ttyS01, ttyS1) fall back to their bytes, so the order is total.
static int CompareNames(const char* a, const char* b)
{
    const char* p = a;
    const char* q = b;
    while (*p != 0 && *q != 0) {
        if (!IsDigit(*p) || !IsDigit(*q)) {
            if (*p != *q) {
                return static_cast<unsigned char>(*p) - static_cast<unsigned char>(*q);
            }
            ++p;
            ++q;
            continue;
        }
        while (*p == '0') {
            ++p;
        }
        while (*q == '0') {
            ++q;
        }
        size_t digitsP = 0;
        size_t digitsQ = 0;
        while (IsDigit(p[digitsP])) {
            ++digitsP;
        }
        while (IsDigit(q[digitsQ])) {
            ++digitsQ;
        }
        if (digitsP != digitsQ) {
            return digitsP < digitsQ ? -1 : 1;
        }
        int digits = memcmp(p, q, digitsP);
        if (digits != 0) {
            return digits;
        }
        p += digitsP;
        q += digitsQ;
    }
    if (*p != *q) {
        return static_cast<unsigned char>(*p) - static_cast<unsigned char>(*q);
    }
    return strcmp(a, b);
}

static int CompareLines(const void* a, const void* b)
{
    return CompareNames(static_cast<const MgLine*>(a)->name, static_cast<const MgLine*>(b)->name);
}

void MgSortLines(MgLine* lines, uint32_t count)
{
    if (count > 1) {
        qsort(lines, count, sizeof(MgLine), CompareLines);
    }
}
