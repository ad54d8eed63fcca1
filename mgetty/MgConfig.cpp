// Which lines mgetty serves: the port sections of its configuration, the enabled units and inittab.
//
// mgetty.config is read as mgetty reads it: logical lines (a trailing
// backslash joins the next), "#" lines are comments, the first word is the
// keyword, and "port NAME" opens the section of the line NAME, where "?"
// stands for any one character. Settings before the first port section apply
// to every line; a line takes every section that matches it, in file order,
// so the last login-conf-file that applies wins.
#include "mgetty/MgFiles.h"
#include "mgetty/MgRun.h"

#include <dirent.h>
#include <stdlib.h>
#include <string.h>

namespace {

enum SectionKind : uint8_t { SECTION_GLOBAL, SECTION_LINE, SECTION_PATTERN, SECTION_IGNORED };

// A port section whose name holds "?": it names no line of its own.
struct Pattern {
    char name[MG_NAME_SIZE];
    uint32_t comment;  // Offset in the run's texts; UINT32_MAX for none.
};

// One login-conf-file line, with the section it stands in.
struct Setting {
    SectionKind kind;
    char section[MG_NAME_SIZE];
    uint32_t path;  // Offset in the run's texts; UINT32_MAX when too long to be used.
};

struct Sections {
    Pattern* patterns;
    uint32_t patternCount;
    uint32_t patternCapacity;
    Setting* settings;
    uint32_t settingCount;
    uint32_t settingCapacity;
};

// Settings beyond these are not kept: a file of endless login-conf-file lines
// cannot take the memory with it.
const uint32_t kMostSettings = 2 * MG_MAX_LINES;

const char kConfigFolder[] = "/etc/mgetty/";

}  // namespace

// mgetty's comparison of a section's name with a line's: "?" on either side
// stands for any character, and for nothing at the end of the shorter one.
static bool WildcardMatches(const char* a, const char* b)
{
    for (; *a != 0 && *b != 0; ++a, ++b) {
        if (*a != *b && *a != '?' && *b != '?') {
            return false;
        }
    }
    const char* rest = *a != 0 ? a : b;
    return rest[strspn(rest, "?")] == 0;
}

// A comment line's words, appended to the comment block being gathered:
// control characters become blanks and the block is cut at the field's end.
static void AppendComment(char* block, size_t* length, const char* text)
{
    while (*text == '#' || *text == ' ' || *text == '\t') {
        ++text;
    }
    size_t end = strlen(text);
    while (end > 0 && static_cast<unsigned char>(text[end - 1]) <= ' ') {
        --end;
    }
    if (end == 0) {
        return;
    }
    if (*length > 0 && *length + 1 < MG_COMMENT_SIZE) {
        block[(*length)++] = ' ';
    }
    for (size_t i = 0; i < end && *length + 1 < MG_COMMENT_SIZE; ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        block[(*length)++] = c < ' ' || c == 0x7F ? ' ' : static_cast<char>(c);
    }
    block[*length] = 0;
}

// The value of a keyword line: the rest of the line, its blanks squeezed to
// one and trimmed, as mgetty compares and stores it.
static size_t SqueezeValue(const char* cursor, char* out, size_t size)
{
    size_t length = 0;
    size_t wordLength;
    const char* word;
    while ((word = MgNextWord(&cursor, &wordLength)) != nullptr) {
        if (length > 0 && length + 1 < size) {
            out[length++] = ' ';
        }
        size_t take = wordLength < size - 1 - length ? wordLength : size - 1 - length;
        memcpy(out + length, word, take);
        length += take;
    }
    out[length] = 0;
    return length;
}

static uint32_t OpenSection(MgRun* run, Sections* sections, const char* name, size_t length, const char* comment,
                            SectionKind* kind)
{
    char tame[MG_NAME_SIZE];
    bool fits = length < MG_NAME_SIZE;
    if (fits) {
        for (size_t i = 0; i < length; ++i) {
            tame[i] = name[i] == '?' ? 'x' : name[i];
        }
        tame[length] = 0;
    }
    if (!fits || !MgIsDevicePath(tame, length)) {
        *kind = SECTION_IGNORED;
        return SUPRV_OK;
    }
    if (memchr(name, '?', length) == nullptr) {
        *kind = SECTION_LINE;
        uint32_t result = MgAddLine(run, name, length, MG_FROM_CONFIG);
        for (uint32_t i = 0; i < run->count; ++i) {
            MgLine* line = &run->lines[i];
            if (strcmp(line->device, tame) == 0 && line->comment[0] == 0) {
                strcpy(line->comment, comment);
            }
        }
        return result;
    }
    *kind = SECTION_PATTERN;
    void* patterns = sections->patterns;
    if (sections->patternCount >= MG_MAX_LINES) {
        return SUPRV_OK;
    }
    if (!MgGrow(&patterns, &sections->patternCapacity, sections->patternCount, sizeof(Pattern))) {
        return SUPRV_ERROR_NOT_ENOUGH_MEMORY;
    }
    sections->patterns = static_cast<Pattern*>(patterns);
    Pattern* pattern = &sections->patterns[sections->patternCount++];
    memcpy(pattern->name, name, length);
    pattern->name[length] = 0;
    pattern->comment = comment[0] == 0 ? UINT32_MAX : MgKeepText(run, comment, strlen(comment));
    return pattern->comment == UINT32_MAX && comment[0] != 0 ? SUPRV_ERROR_NOT_ENOUGH_MEMORY : SUPRV_OK;
}

// A login-conf-file value as a path: a name without "/" lies in mgetty's folder.
static uint32_t KeepLoginConfigPath(MgRun* run, const char* value, size_t length)
{
    if (value[0] == '/') {
        return MgKeepText(run, value, length);
    }
    char path[MG_PATH_SIZE];
    size_t folder = sizeof(kConfigFolder) - 1;
    if (folder + length >= sizeof(path)) {
        return UINT32_MAX;
    }
    memcpy(path, kConfigFolder, folder);
    memcpy(path + folder, value, length);
    return MgKeepText(run, path, folder + length);
}

static uint32_t AddSetting(MgRun* run, Sections* sections, SectionKind kind, const char* section, const char* value,
                           size_t length)
{
    if (sections->settingCount >= kMostSettings || length == 0) {
        return SUPRV_OK;
    }
    void* settings = sections->settings;
    if (!MgGrow(&settings, &sections->settingCapacity, sections->settingCount, sizeof(Setting))) {
        return SUPRV_ERROR_NOT_ENOUGH_MEMORY;
    }
    sections->settings = static_cast<Setting*>(settings);
    Setting* setting = &sections->settings[sections->settingCount++];
    setting->kind = kind;
    strcpy(setting->section, section);
    setting->path = KeepLoginConfigPath(run, value, length);
    return SUPRV_OK;
}

static uint32_t ReadConfig(MgRun* run, Sections* sections)
{
    char path[MG_PATH_SIZE];
    if (!MgPath(path, "%smgetty.config", kConfigFolder)) {
        return SUPRV_ERROR_BAD_PATH;
    }
    MgTextFile file;
    if (!MgOpenText(&file, path, MG_TRUST_FILE)) {
        // No configuration is a server whose lines all run on defaults.
        return file.error == SUPRV_ERROR_FILE_NOT_FOUND ? SUPRV_OK : file.error;
    }
    char comment[MG_COMMENT_SIZE] = "";
    size_t commentLength = 0;
    SectionKind kind = SECTION_GLOBAL;
    char section[MG_NAME_SIZE] = "";
    uint32_t result = SUPRV_OK;
    while (result == SUPRV_OK && MgNextLine(&file)) {
        const char* cursor = file.line;
        size_t length;
        const char* keyword = MgNextWord(&cursor, &length);
        if (keyword != nullptr && keyword[0] == '#') {
            AppendComment(comment, &commentLength, keyword);
            continue;
        }
        char value[MG_TEXT_LINE_SIZE];
        size_t valueLength = SqueezeValue(cursor, value, sizeof(value));
        if (MgWordIs(keyword, length, "port")) {
            result = OpenSection(run, sections, value, valueLength, comment, &kind);
            if (kind != SECTION_IGNORED) {
                strcpy(section, value);
            }
        } else if (MgWordIs(keyword, length, "login-conf-file") && kind != SECTION_IGNORED) {
            result = AddSetting(run, sections, kind, section, value, valueLength);
        }
        // Only comment lines directly above a port section are its comment.
        comment[0] = 0;
        commentLength = 0;
    }
    MgCloseText(&file);
    return result != SUPRV_OK ? result : file.error;
}

// The device a unit instance names: systemd's escapes undone as %I undoes
// them, so "-" stands for "/" and "\x2d" for "-".
static uint32_t AddUnitLine(MgRun* run, const char* instance, size_t length)
{
    char name[MG_NAME_SIZE];
    size_t out = 0;
    for (size_t i = 0; i < length; ++i) {
        if (out + 1 >= sizeof(name)) {
            return SUPRV_OK;
        }
        char c = instance[i];
        if (c == '\\' && i + 3 < length && instance[i + 1] == 'x') {
            char hex[3] = {instance[i + 2], instance[i + 3], 0};
            char* end;
            c = static_cast<char>(strtoul(hex, &end, 16));
            if (end != hex + 2 || c == 0) {
                return SUPRV_OK;
            }
            i += 3;
        } else if (c == '-') {
            c = '/';
        }
        name[out++] = c;
    }
    return MgAddLine(run, name, out, MG_FROM_UNIT);
}

// Every enabled instance of mgetty@.service: a link in a .wants folder of
// systemd's own configuration.
static uint32_t ReadUnits(MgRun* run)
{
    char folder[MG_PATH_SIZE];
    if (!MgPath(folder, "/etc/systemd/system")) {
        return SUPRV_ERROR_BAD_PATH;
    }
    uint32_t result;
    DIR* units = MgOpenFolder(folder, &result);
    if (units == nullptr) {
        // Lines another user could name are no lines of the server's.
        return MgRefused(result) ? result : SUPRV_OK;
    }
    const size_t folderLength = strlen(folder);
    struct dirent* entry;
    while (result == SUPRV_OK && (entry = readdir(units)) != nullptr) {
        size_t length = strlen(entry->d_name);
        if (length <= 6 || strcmp(entry->d_name + length - 6, ".wants") != 0 ||
            folderLength + 1 + length >= MG_PATH_SIZE) {
            continue;
        }
        char wants[MG_PATH_SIZE];
        memcpy(wants, folder, folderLength);
        wants[folderLength] = '/';
        memcpy(wants + folderLength + 1, entry->d_name, length + 1);
        uint32_t error;
        DIR* links = MgOpenFolder(wants, &error);
        if (links == nullptr) {
            result = MgRefused(error) ? error : SUPRV_OK;
            continue;
        }
        struct dirent* link;
        while (result == SUPRV_OK && (link = readdir(links)) != nullptr) {
            const char* name = link->d_name;
            size_t nameLength = strlen(name);
            if (nameLength > 15 && strncmp(name, "mgetty@", 7) == 0 &&
                strcmp(name + nameLength - 8, ".service") == 0) {
                result = AddUnitLine(run, name + 7, nameLength - 15);
            }
        }
        closedir(links);
    }
    closedir(units);
    return result;
}

// The mgetty entries of inittab: "id:runlevels:action:process", where the
// process is an mgetty command line and the action is not "off".
static uint32_t ReadInittab(MgRun* run)
{
    char path[MG_PATH_SIZE];
    if (!MgPath(path, "/etc/inittab")) {
        return SUPRV_ERROR_BAD_PATH;
    }
    MgTextFile file;
    if (!MgOpenText(&file, path, MG_TRUST_FILE)) {
        return MgRefused(file.error) ? file.error : SUPRV_OK;
    }
    uint32_t result = SUPRV_OK;
    while (result == SUPRV_OK && MgNextLine(&file)) {
        char* fields[4] = {file.line, nullptr, nullptr, nullptr};
        for (int i = 1; i < 4 && fields[i - 1] != nullptr; ++i) {
            fields[i] = strchr(fields[i - 1], ':');
            if (fields[i] != nullptr) {
                *fields[i]++ = 0;
            }
        }
        if (file.line[0] == '#' || fields[3] == nullptr || strcmp(fields[2], "off") == 0) {
            continue;
        }
        // The process field split into words, each ended in place.
        const char* words[64];
        uint32_t count = 0;
        char* cursor = fields[3] + (fields[3][0] == '+');
        while (count < 64) {
            const char* next = cursor;
            size_t length;
            const char* word = MgNextWord(&next, &length);
            if (word == nullptr) {
                break;
            }
            words[count++] = word;
            cursor = file.line + (next - file.line);
            if (*cursor != 0) {
                *cursor++ = 0;
            }
        }
        const char* base = count > 0 ? strrchr(words[0], '/') : nullptr;
        base = base != nullptr ? base + 1 : count > 0 ? words[0] : "";
        char line[MG_NAME_SIZE];
        if (MgIsMgettyName(base) && MgLineOfCommand(words, count, line)) {
            result = MgAddLine(run, line, strlen(line), MG_FROM_INITTAB);
        }
    }
    MgCloseText(&file);
    return result;
}

// The comment and the login.config of a line, from the sections that match it.
static uint32_t ResolveLine(MgRun* run, const Sections* sections, MgLine* line, uint32_t defaultPath)
{
    line->loginConfig = defaultPath;
    for (uint32_t i = 0; i < sections->settingCount; ++i) {
        const Setting& setting = sections->settings[i];
        bool applies = setting.kind == SECTION_GLOBAL ||
                       (setting.kind == SECTION_LINE && strcmp(setting.section, line->device) == 0) ||
                       (setting.kind == SECTION_PATTERN && WildcardMatches(setting.section, line->device));
        if (applies) {
            line->loginConfig = setting.path;
        }
    }
    for (uint32_t i = 0; i < sections->patternCount && line->comment[0] == 0; ++i) {
        const Pattern& pattern = sections->patterns[i];
        if (pattern.comment != UINT32_MAX && WildcardMatches(pattern.name, line->device)) {
            strncpy(line->comment, run->texts + pattern.comment, MG_COMMENT_SIZE - 1);
        }
    }
    return SUPRV_OK;
}

uint32_t MgReadLines(MgRun* run)
{
    Sections sections;
    memset(&sections, 0, sizeof(sections));
    uint32_t result = ReadConfig(run, &sections);
    uint32_t configured = run->count;
    if (result == SUPRV_OK) {
        result = ReadUnits(run);
    }
    if (result == SUPRV_OK) {
        result = ReadInittab(run);
    }
    if (result == SUPRV_OK) {
        result = MgReadProcesses(run);
    }
    uint32_t defaultPath = result == SUPRV_OK ? KeepLoginConfigPath(run, "login.config", 12) : UINT32_MAX;
    if (result == SUPRV_OK && defaultPath == UINT32_MAX) {
        result = SUPRV_ERROR_NOT_ENOUGH_MEMORY;
    }
    if (result == SUPRV_OK) {
        MgSortLines(run->lines + configured, run->count - configured);
        for (uint32_t i = 0; i < run->count; ++i) {
            ResolveLine(run, &sections, &run->lines[i], defaultPath);
        }
    }
    free(sections.patterns);
    free(sections.settings);
    return result;
}
